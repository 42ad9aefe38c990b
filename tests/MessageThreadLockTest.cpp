#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "device/MessageThreadLock.h"
#include "device/PresetManager.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/TimeLimit.h"
#include "tests/support/TrafficBytes.h"
#include "tests/support/TrafficSingletons.h"
#include "tests/support/VirtualMidiDevice.h"

#include <gtest/gtest.h>

#include <future>

using namespace traffic;

/** The device link on a virtual device, ticked by hand, with the test listening on the hub for device
    states and on the state machine for every delivery. */
struct LinkLocks : public ::testing::Test, public UpdateUIListener, public MIDIMessageListener
{
    void SetUp() override
    {
        hub->addUpdateListener (this);
        KRMIDIDeviceManager::getInstance()->addConnectionListener (hub);
        manager().stopTimer();
        manager().getStateMachine().addMessageListener (this);
    }

    void TearDown() override    { deleteTrafficSingletons(); }

    MIDIManager& manager()      { return *MIDIManager::getInstance(); }
    MIDIPortPair& pair()        { return manager().getPortPair(); }
    void closeDevice()          { KRMIDIDeviceManager::getInstance()->closeDevice(); }

    void connect()
    {
        pair().close();
        manager().getStateMachine().setCurrentState (stateSearching);
        manager().timerCallback();
        ASSERT_TRUE (pair().hasOutput() && pair().hasInput());
    }

    void deviceState (int, bool) override                       { ++states; }
    void handleMidiMessage (const juce::MidiMessage&) override  { if (onDelivery) onDelivery(); }

    PresetManager* hub = PresetManager::getInstance();
    VirtualMidiDevice device;
    VirtualMidiDevice::ScopedInstall install { device };
    std::atomic<int> states { 0 };
    std::function<void()> onDelivery;
};

// A send thread may drop the last hold on a closed connection's output long after the close; the
// delivery of the next connection must not give up its lock because of that.
TEST_F (LinkLocks, AnOutputReleasedOffTheMessageThreadCostsTheNextConnectionNoPacket)
{
    connect();
    device.setWriteBlocked (true);
    pair().sendMessage (toMessage ({ 0xF0, 0x7E, 0x48, 0x01, 0xF7 }));   // the device-state request's two frames
    pair().sendMessage (toMessage ({ 0xF0, 0x7E, 0x48, 0x02, 0xF7 }));
    ASSERT_TRUE (pumpMessagesUntil ([this] { return device.getNumBlockedWrites() == 2; }));
    closeDevice();
    connect();

    device.sendToHost (toMessage (chunk (8, 0, { 0x01, 0x20, 0x04, 0x00, 3, 0, 0, 0 })));     // record 0x2001
    ASSERT_TRUE (device.waitUntilDelivering());     // its dispatch waits for this thread, busy here
    device.setWriteBlocked (false);
    ASSERT_TRUE (device.waitUntilOutputDestructionsBegun (1));     // on a send thread
    EXPECT_FALSE (device.waitUntilDelivered (200)) << "the dispatch gave up its wait for the message thread";

    EXPECT_TRUE (pumpMessagesUntil ([this] { return states == 1 && device.getNumOpenOutputs() == 1; }));
    EXPECT_TRUE (device.waitUntilDelivered());
    EXPECT_EQ (states, 1);
}

TEST_F (LinkLocks, ADeliveryThatAsksForTheLockOnlyAfterACloseBeganIsRefusedAtOnceAndDoesNotHoldTheCloseUp)
{
    connect();
    std::promise<void> closeBegan;
    std::atomic<bool> entered { false };
    std::atomic<int> gained { -1 };

    onDelivery = [&, began = closeBegan.get_future().share()]
    {
        entered = true;
        began.wait();
        gained = MessageThreadLock().lockWasGained() ? 1 : 0;
    };

    device.sendToHost (toMessage ({ 0xF0, 0x7E, 0x48, 0x01, 0xF7 }));

    while (! entered)
        std::this_thread::yield();

    // This thread runs no message loop, so a lock that waits for it gives up only when the close's
    // refusal begins; only then may the delivery go on to ask for its own.
    std::thread probe ([&]
    {
        EXPECT_FALSE (MessageThreadLock().lockWasGained());
        closeBegan.set_value();
    });

    runWithinSeconds (5, "closeDevice", [this] { closeDevice(); });
    probe.join();
    EXPECT_TRUE (device.waitUntilDelivered());
    EXPECT_EQ (std::make_pair (gained.load(), device.getNumOpenInputs()), std::make_pair (0, 0));
}
