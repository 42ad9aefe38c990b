#include "device/CPackTrans.h"
#include "device/ConstVar.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "device/PresetManager.h"
#include "device/SendMsgHander.h"
#include "tests/support/DeviceStateResponder.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/TrafficSingletons.h"
#include "tests/support/VirtualMidiDevice.h"

#include <gtest/gtest.h>

#include <mutex>

namespace
{
    using Bytes = std::vector<juce::uint8>;
    using Log = std::vector<std::string>;

    Bytes bytesOf (const juce::MidiMessage& m)
    {
        return { m.getRawData(), m.getRawData() + m.getRawDataSize() };
    }

    /** What MainComponent does on the hub, reduced to a log; called on the MIDI input thread too. */
    struct UserSide : public UpdateUIListener
    {
        void deviceConnected() override
        {
            add ("connected");

            if (requestStateOnConnection)
                MIDIManager::getInstance()->sendDeviceState();
        }

        void deviceState (int state, bool flag) override
        {
            add ("state " + std::to_string (state) + (flag ? " true" : " false"));
        }

        void deviceDisconnected() override                          { add ("disconnected"); }
        void deviceReply (int length, const juce::uint8* data) override
        {
            add ("reply " + juce::String::toHexString (data, length).toStdString());
        }

        void add (const std::string& entry)
        {
            const std::lock_guard<std::mutex> guard (lock);
            log.push_back (entry);
        }

        Log take()
        {
            const std::lock_guard<std::mutex> guard (lock);
            return std::exchange (log, {});
        }

        size_t size() const
        {
            const std::lock_guard<std::mutex> guard (lock);
            return log.size();
        }

        bool requestStateOnConnection = false;
        mutable std::mutex lock;
        Log log;
    };

    struct Traffic : public ::testing::Test
    {
        Traffic()
        {
            deleteTrafficSingletons();
            hub = PresetManager::getInstance();
            hub->addUpdateListener (&userSide);
            KRMIDIDeviceManager::getInstance()->addConnectionListener (hub);
            MIDIManager::getInstance()->stopTimer();    // ticks by hand
        }

        ~Traffic() override
        {
            deleteTrafficSingletons();
        }

        void connect()
        {
            MIDIManager::getInstance()->timerCallback();
            ASSERT_TRUE (MIDIManager::getInstance()->getPortPair().hasOutput());
        }

        void openGate()
        {
            MIDIManager::getInstance()->isCanSendUserMsg = true;
        }

        VirtualMidiDevice device;
        VirtualMidiDevice::ScopedInstall install { device };
        DeviceStateResponder responder { device };
        PresetManager* hub = nullptr;
        UserSide userSide;
    };
}

//==============================================================================
TEST_F (Traffic, ConnectedDeviceIsAskedForItsStateASecondLaterAndTheAnswerReachesTheUserSide)
{
    userSide.requestStateOnConnection = true;
    connect();
    const auto connectedAt = juce::Time::getMillisecondCounterHiRes();
    EXPECT_EQ (userSide.take(), (Log { "connected" }));

    ASSERT_TRUE (pumpMessagesUntil ([&] { return userSide.size() == 2; }, 4000));

    const auto written = device.getWrittenMessages();
    ASSERT_EQ (written.size(), 2u);
    EXPECT_TRUE (DeviceStateResponder::isInformationRequest (written[0].message));
    EXPECT_TRUE (DeviceStateResponder::isStateRead (written[1].message));
    EXPECT_GE (written[0].timeMs - connectedAt, 990.0);

    // One answer comes from record 0x2001, the other from the system reply.
    EXPECT_EQ (userSide.take(), (Log { "state 1 false", "state 1 false" }));
    EXPECT_EQ (hub->getConnectionState(), 2);
}

TEST_F (Traffic, UpdateModeStateAndKindArriveThroughAChunkedAnswerAndASixteenByteReply)
{
    responder.setDeviceState (3);
    responder.setDeviceKind (5);
    responder.setModelType (4);
    responder.setChunkSize (3);
    ConstVar::getInstance()->deviceKind = 2;
    connect();

    MIDIManager::getInstance()->sendDeviceStateNow();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return userSide.size() == 3; }));

    EXPECT_EQ (userSide.take(), (Log { "connected", "state 3 false", "state 3 false" }));
    EXPECT_EQ (ConstVar::getInstance()->deviceKind.load(), 5);
}

TEST_F (Traffic, LongAnswerInSeveralFullChunksStillYieldsTheState)
{
    responder.setDeviceState (7);
    responder.setFillerLength (400);
    responder.setAnswersStateRead (false);
    connect();
    userSide.take();

    MIDIManager::getInstance()->sendDeviceStateNow();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return userSide.size() == 1; }));
    EXPECT_EQ (userSide.take(), (Log { "state 7 false" }));
}

TEST_F (Traffic, SilentDeviceYieldsNoState)
{
    responder.setAnswersInformationRequest (false);
    responder.setAnswersStateRead (false);
    connect();
    userSide.take();

    MIDIManager::getInstance()->sendDeviceStateNow();
    ASSERT_TRUE (device.waitForWritten (2));
    pumpMessagesFor (100);

    EXPECT_EQ (responder.getNumInformationRequests(), 1);
    EXPECT_EQ (responder.getNumStateReads(), 1);
    EXPECT_TRUE (userSide.take().empty());
}

//==============================================================================
TEST_F (Traffic, UpdateRepliesReachTheUserSideRaw)
{
    connect();
    userSide.take();

    device.sendToHost (juce::MidiMessage (Bytes { 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0xF7 }.data(), 6, 0.0));
    ASSERT_TRUE (device.waitUntilDelivered());

    EXPECT_EQ (userSide.take(), (Log { "reply f0 7e 48 04 7f f7" }));
}

TEST_F (Traffic, UpdateMessagesAreWrappedAndSentOnlyOnceTheGateIsOpen)
{
    connect();
    const juce::uint8 start[] = { 0x7E, 0x48, 0x01 };

    testing::internal::CaptureStdout();
    hub->sysExMessage (3, start, 1);
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ (device.getNumWritten(), 0);

    openGate();
    hub->sysExMessage (3, start, 1);
    hub->sysExMessage (0, start, 1);

    const auto written = device.getWrittenMessages();
    ASSERT_EQ (written.size(), 2u);
    EXPECT_EQ (bytesOf (written[0].message), (Bytes { 0xF0, 0x7E, 0x48, 0x01, 0xF7 }));
    EXPECT_EQ (bytesOf (written[1].message), (Bytes { 0xF0, 0xF7 }));
}

TEST_F (Traffic, SoftwareJumpSendsThePacketThenTheAddressFrameAndPrintsOneLine)
{
    const std::string line = "ADDR_SYS_SOFTWARE_JUMP:21,25,7e,4d,5a,2d,0a,12, 12,00,20,00, \n";
    connect();

    testing::internal::CaptureStdout();
    SendMsgHander::getInstance()->softwareJump();
    EXPECT_EQ (testing::internal::GetCapturedStdout(), line);
    EXPECT_EQ (device.getNumWritten(), 0);

    openGate();
    testing::internal::CaptureStdout();
    SendMsgHander::getInstance()->softwareJump();
    EXPECT_EQ (testing::internal::GetCapturedStdout(), line);

    const auto written = device.getWrittenMessages();
    ASSERT_EQ (written.size(), 2u);
    EXPECT_EQ (bytesOf (written[0].message), (Bytes { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A, 0x12, 0x04, 0x00,
                                                      0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 }));
    EXPECT_EQ (bytesOf (written[1].message), (Bytes { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A, 0x12,
                                                      0x12, 0x00, 0x20, 0x00, 0xF7 }));
}

TEST_F (Traffic, HubJumpAlsoClosesTheDevice)
{
    connect();
    openGate();
    userSide.take();

    testing::internal::CaptureStdout();
    hub->softwareJump();
    testing::internal::GetCapturedStdout();

    EXPECT_EQ (device.getNumWritten(), 2);
    EXPECT_FALSE (MIDIManager::getInstance()->getPortPair().hasOutput());
    EXPECT_EQ (userSide.take(), (Log { "disconnected" }));
    EXPECT_TRUE (hub->isRequestHandled());
}

TEST_F (Traffic, RecordRequestsLeaveThroughThePumpAsTwentyTwoByteFrames)
{
    connect();
    openGate();

    hub->requestRecord2002();
    SendMsgHander::getInstance()->requestRecord1006();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return device.getNumWritten() == 2; }));

    const auto written = device.getWrittenMessages();
    const Bytes head { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A, 0x11, 0x04, 0x00, 0x00, 0x00 };
    auto expected2002 = head, expected1006 = head;
    expected2002.insert (expected2002.end(), { 0x00, 0x02, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 });
    expected1006.insert (expected1006.end(), { 0x00, 0x06, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 });
    EXPECT_EQ (bytesOf (written[0].message), expected2002);
    EXPECT_EQ (bytesOf (written[1].message), expected1006);
    EXPECT_TRUE (hub->isRequestHandled());
}

TEST_F (Traffic, ChainIsBuiltOnceAndWiredToTheHub)
{
    EXPECT_EQ (PresetManager::getInstance(), hub);
    EXPECT_TRUE (ConstVar::getInstance()->dataEnabled);

    // A system reply fed to the transport travels through the dispatcher to the hub.
    const auto reply = DeviceStateResponder::makeSystemReply (9, std::nullopt);
    CPackTrans::getInstance()->onReceive (reply.getRawData(), reply.getRawDataSize());
    EXPECT_EQ (userSide.take(), (Log { "state 9 false" }));
}
