#include "device/KRMIDIDeviceManager.h"
#include "tests/support/MainComponentFixture.h"
#include "tests/support/TimeLimit.h"

using namespace traffic;

/** Every road that closes the ports from the message thread, taken while the device's delivery of a
    data packet holds the device's delivery lock and waits for the blocked message thread. */
class CloseRoads : public MainComponentFixture
{
protected:
    /** Blocks the message thread in a posted callback, lets the device deliver a complete data packet,
        and closes from that callback once the delivery waits; the close must take under 500 ms. */
    void closeWhileADeliveryWaits (const char* road, const std::function<void()>& prepare, const std::function<void()>& close)
    {
        connect();
        settle();
        prepare();
        std::atomic<double> closeMs { -1.0 };

        juce::MessageManager::callAsync ([&]
        {
            device.sendToHost (toMessage (chunk (3, 0, { 1, 2, 3 })));
            EXPECT_TRUE (device.waitUntilDelivering());
            juce::Thread::sleep (20);       // past the chain, into the wait for this thread

            runWithinSeconds (5, road, [&]
            {
                const auto start = juce::Time::getMillisecondCounterHiRes();
                close();
                closeMs = juce::Time::getMillisecondCounterHiRes() - start;
            });
        });

        EXPECT_TRUE (pumpMessagesUntil ([&] { return closeMs >= 0; })) << road;
        EXPECT_LT (closeMs, 500.0) << road;
        EXPECT_TRUE (device.waitUntilDelivered()) << road;
        settle();
        EXPECT_EQ (std::make_pair (device.getNumOpenInputs(), device.getNumOpenOutputs()), std::make_pair (0, 0)) << road;
    }
};

TEST_F (CloseRoads, CloseDevice)           { closeWhileADeliveryWaits ("closeDevice", [] {}, [] { KRMIDIDeviceManager::getInstance()->closeDevice(); }); }
TEST_F (CloseRoads, Watchdog)              { closeWhileADeliveryWaits ("watchdog", [] {}, [this] { main->timerCallback (MainComponent::watchdogTimerId); }); }
TEST_F (CloseRoads, HandshakesFifthTick)   { closeWhileADeliveryWaits ("handshake", [this] { handshakeTick (4); }, [this] { handshakeTick(); }); }
TEST_F (CloseRoads, Quit)                  { closeWhileADeliveryWaits ("~MainComponent", [] {}, [this] { main = nullptr; }); }

// A frame that goes out while the delivery waits ends the busy state, as the pump's chunks do during an update.
TEST_F (CloseRoads, PresenceCheck)
{
    closeWhileADeliveryWaits ("presence check", [] {}, [this]
    {
        auto frame = toMessage ({ 0xF0, 0x7E, 0x48, 0x01, 0xF7 });
        manager().getStateMachine().fireEvent (evSendSysEx, &frame);
        device.unplug();
        manager().timerCallback();
    });
}
