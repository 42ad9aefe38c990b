#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "device/PresetManager.h"
#include "device/SendMsgHander.h"
#include "tests/support/DeviceStateResponder.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/TrafficBytes.h"
#include "tests/support/TrafficSingletons.h"

#include <gtest/gtest.h>

#include <mutex>

namespace
{
    using namespace traffic;
    using Log = std::vector<std::string>;

    /** A fresh device link on a virtual device in state 3, with a user side on the hub that
        asks for the device state on connection as MainComponent does.
    */
    struct Traffic : public ::testing::Test,
                     public UpdateUIListener
    {
        Traffic()
        {
            deleteTrafficSingletons();
            hub = PresetManager::getInstance();
            hub->addUpdateListener (this);
            KRMIDIDeviceManager::getInstance()->addConnectionListener (hub);
            MIDIManager::getInstance()->stopTimer();    // ticks by hand
        }

        ~Traffic() override     { deleteTrafficSingletons(); }

        void deviceConnected() override                     { add ("connected"); MIDIManager::getInstance()->sendDeviceState(); }
        void deviceState (int state, bool) override         { add ("state " + std::to_string (state)); }
        void deviceDisconnected() override                  { add ("disconnected"); }
        void deviceReply (int length, const juce::uint8* data) override
        {
            add ("reply " + juce::String::toHexString (data, length).toStdString());
        }

        void add (const std::string& entry)     { const std::lock_guard<std::mutex> guard (lock); log.push_back (entry); }
        Log take()                              { const std::lock_guard<std::mutex> guard (lock); return std::exchange (log, {}); }

        std::vector<Bytes> written()
        {
            std::vector<Bytes> all;

            for (auto& w : device.getWrittenMessages())
                all.push_back (bytesOf (w.message));

            return all;
        }

        VirtualMidiDevice device;
        VirtualMidiDevice::ScopedInstall install { device };
        DeviceStateResponder responder { device, 3 };
        PresetManager* hub = nullptr;
        std::mutex lock;
        Log log;
    };
}

//==============================================================================
TEST_F (Traffic, ConnectedDeviceIsAskedForItsStateASecondLaterAndTheAnswerReachesTheUserSide)
{
    MIDIManager::getInstance()->timerCallback();
    const auto connectedAt = juce::Time::getMillisecondCounterHiRes();
    EXPECT_EQ (take(), (Log { "connected" }));

    ASSERT_TRUE (pumpMessagesUntil ([&] { const std::lock_guard<std::mutex> guard (lock); return log.size() == 2; }, 4000));

    const auto frames = device.getWrittenMessages();
    ASSERT_EQ (frames.size(), 2u);
    EXPECT_TRUE (DeviceStateResponder::isInformationRequest (frames[0].message));
    EXPECT_TRUE (DeviceStateResponder::isStateRead (frames[1].message));
    EXPECT_GE (frames[0].timeMs - connectedAt, 990.0);

    // One answer comes from record 0x2001, the other from the system reply.
    EXPECT_EQ (take(), (Log { "state 3", "state 3" }));
    EXPECT_EQ (hub->getConnectionState(), 2);
}

// Update messages go out wrapped once user messages are allowed and their replies come back raw;
// record requests leave through the pump; the jump sends its two frames, prints one line and closes.
TEST_F (Traffic, UserSideTrafficLeavesAsItsFramesAndUpdateRepliesComeBackRaw)
{
    const juce::uint8 start[] = { 0x7E, 0x48, 0x01 };
    MIDIManager::getInstance()->timerCallback();
    hub->sysExMessage (3, start, 1);                    // dropped: user messages not allowed yet
    EXPECT_EQ (device.getNumWritten(), 0);
    EXPECT_EQ (take(), (Log { "connected" }));

    MIDIManager::getInstance()->isCanSendUserMsg = true;
    hub->sysExMessage (3, start, 1);
    hub->sysExMessage (0, start, 1);
    hub->requestRecord2002();
    SendMsgHander::getInstance()->requestRecord1006();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return device.getNumWritten() == 4; }));
    EXPECT_TRUE (hub->isRequestHandled());              // the send progress reached the hub

    device.sendToHost (juce::MidiMessage (Bytes { 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0xF7 }.data(), 6, 0.0));
    ASSERT_TRUE (device.waitUntilDelivered());
    EXPECT_EQ (take(), (Log { "reply f0 7e 48 04 7f f7" }));

    testing::internal::CaptureStdout();
    hub->softwareJump();
    EXPECT_EQ (testing::internal::GetCapturedStdout(),
               "ADDR_SYS_SOFTWARE_JUMP:21,25,7e,4d,5a,2d,0a,12, 12,00,20,00, \nconectevent event :1\n");

    const Bytes signature { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A };
    EXPECT_EQ (written(), (std::vector<Bytes> {
        { 0xF0, 0x7E, 0x48, 0x01, 0xF7 }, { 0xF0, 0xF7 },
        concat ({ signature, { 0x11, 0x04, 0x00, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 } }),
        concat ({ signature, { 0x11, 0x04, 0x00, 0x00, 0x00, 0x00, 0x06, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 } }),
        concat ({ signature, { 0x12, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 } }),
        concat ({ signature, { 0x12, 0x12, 0x00, 0x20, 0x00, 0xF7 } }) }));
    EXPECT_FALSE (MIDIManager::getInstance()->getPortPair().hasOutput());
    EXPECT_EQ (take(), (Log { "disconnected" }));
}
