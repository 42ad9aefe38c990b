#include "tests/support/DeviceLinkFixture.h"
#include "tests/support/MessageLoop.h"

namespace
{
    std::vector<juce::uint8> bytesOf (const juce::MidiMessage& m)
    {
        return { m.getRawData(), m.getRawData() + m.getRawDataSize() };
    }

    const std::vector<juce::uint8> informationRequest { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A,
                                                        0x11, 0x04, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02,
                                                        0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 };

    const std::vector<juce::uint8> softwareStateRead { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A,
                                                       0x11, 0x12, 0x00, 0x00, 0x00, 0xF7 };

    const std::string expectedDiagnostics =
        "set isCanSendUserMsg:1 \n"
        "21,25,7E,4D,5A,2D,0A,11,04,00,00,00,00,01,02,00,00,00,00,00,\n"
        "ADDR_SYS_SOFTWARE_STATE:21,25,7e,4d,5a,2d,0a,11, 12,00,00,00, \n";
}

using DeviceStateRequest = DeviceLinkFixture;

TEST_F (DeviceStateRequest, SendsBothFramesByteForByte200MsApartAndPrintsThem)
{
    connect();
    EXPECT_FALSE (manager().isCanSendUserMsg);

    testing::internal::CaptureStdout();
    const auto handedOver = juce::Time::getMillisecondCounterHiRes();
    manager().sendDeviceStateNow();
    const auto printed = testing::internal::GetCapturedStdout();

    EXPECT_EQ (printed, expectedDiagnostics);
    EXPECT_TRUE (manager().isCanSendUserMsg);

    ASSERT_TRUE (device->waitForWritten (2));
    const auto written = device->getWrittenMessages();
    EXPECT_EQ (bytesOf (written[0].message), informationRequest);
    EXPECT_EQ (bytesOf (written[1].message), softwareStateRead);
    EXPECT_EQ (written[0].message.getTimeStamp(), 0.0);
    EXPECT_GE (written[1].timeMs - handedOver, 200.0);

    // The frames bypass the state machine.
    EXPECT_EQ (state(), stateConnected);
}

TEST_F (DeviceStateRequest, OpensTheGateAndPrintsEvenWithoutPorts)
{
    testing::internal::CaptureStdout();
    manager().sendDeviceStateNow();
    EXPECT_EQ (testing::internal::GetCapturedStdout(), expectedDiagnostics);
    EXPECT_TRUE (manager().isCanSendUserMsg);
    EXPECT_EQ (device->getNumWritten(), 0);
}

TEST_F (DeviceStateRequest, TheGateStaysOpenAcrossADisconnect)
{
    connect();
    manager().sendDeviceStateNow();
    ASSERT_TRUE (device->waitForWritten (2));

    device->unplug();
    tick (1 + 26);
    device->plug();
    tick();
    ASSERT_EQ (state(), stateConnected);
    EXPECT_TRUE (manager().isCanSendUserMsg);

    // A send from the user side goes straight out, before any new request.
    device->clearWritten();
    const juce::uint8 bytes[] { 0xF0, 0x7E, 0x48, 0x01, 0xF7 };
    send (juce::MidiMessage (bytes, (int) sizeof (bytes)));
    EXPECT_EQ (device->getNumWritten(), 1);
}

TEST_F (DeviceStateRequest, RunsOneSecondLaterOnceForEachCall)
{
    connect();
    testing::internal::CaptureStdout();

    const auto start = juce::Time::getMillisecondCounter();
    manager().sendDeviceState();
    manager().sendDeviceState();
    EXPECT_FALSE (manager().isCanSendUserMsg);   // nothing before the delay

    EXPECT_TRUE (pumpMessagesUntil ([&] { return device->getNumWritten() >= 4; }, 3000));
    const auto printed = testing::internal::GetCapturedStdout();

    EXPECT_GE (juce::Time::getMillisecondCounter() - start, 1000u);
    EXPECT_EQ (printed, expectedDiagnostics + expectedDiagnostics);
}

TEST_F (DeviceStateRequest, APendingRequestIsDroppedWhenTheManagerGoesAway)
{
    manager().sendDeviceState();
    MIDIManager::deleteInstance();
    KRMIDIDeviceManager::deleteInstance();

    testing::internal::CaptureStdout();
    pumpMessagesFor (1200);
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "");
}
