#include "tests/support/DeviceLinkFixture.h"
#include "tests/support/MessageLoop.h"

namespace
{
    std::vector<juce::uint8> bytesOf (const juce::MidiMessage& m)
    {
        return { m.getRawData(), m.getRawData() + m.getRawDataSize() };
    }

    const std::string expectedDiagnostics =
        "set isCanSendUserMsg:1 \n"
        "21,25,7E,4D,5A,2D,0A,11,04,00,00,00,00,01,02,00,00,00,00,00,\n"
        "ADDR_SYS_SOFTWARE_STATE:21,25,7e,4d,5a,2d,0a,11, 12,00,00,00, \n";
}

using DeviceStateRequest = DeviceLinkFixture;

TEST_F (DeviceStateRequest, SendsBothFramesByteForByte200MsApartPrintsThemAndKeepsTheGateOpen)
{
    connect();
    EXPECT_FALSE (manager().isCanSendUserMsg);

    testing::internal::CaptureStdout();
    const auto handedOver = juce::Time::getMillisecondCounterHiRes();
    manager().sendDeviceStateNow();
    EXPECT_EQ (testing::internal::GetCapturedStdout(), expectedDiagnostics);
    EXPECT_TRUE (manager().isCanSendUserMsg);

    ASSERT_TRUE (device->waitForWritten (2));
    const auto written = device->getWrittenMessages();
    EXPECT_EQ (bytesOf (written[0].message), (std::vector<juce::uint8> { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A,
                                                                          0x11, 0x04, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02,
                                                                          0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 }));
    EXPECT_EQ (bytesOf (written[1].message), (std::vector<juce::uint8> { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A,
                                                                          0x11, 0x12, 0x00, 0x00, 0x00, 0xF7 }));
    EXPECT_EQ (written[0].message.getTimeStamp(), 0.0);
    EXPECT_GE (written[1].timeMs - handedOver, 200.0);
    EXPECT_EQ (state(), stateConnected);     // the frames bypass the state machine

    // Across a disconnect the gate stays open: a user send goes straight out on reconnection.
    device->unplug();
    tick (1 + 26);
    device->plug();
    tick();
    ASSERT_EQ (state(), stateConnected);
    device->clearWritten();
    send (frame());
    EXPECT_EQ (device->getNumWritten(), 1);
}

TEST_F (DeviceStateRequest, WithoutPortsItStillOpensTheGateAndPrints)
{
    testing::internal::CaptureStdout();
    manager().sendDeviceStateNow();
    EXPECT_EQ (testing::internal::GetCapturedStdout(), expectedDiagnostics);
    EXPECT_TRUE (manager().isCanSendUserMsg);
    EXPECT_EQ (device->getNumWritten(), 0);
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
