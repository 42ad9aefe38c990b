#include "device/MessageThreadLock.h"
#include "tests/support/DeviceLinkFixture.h"
#include "tests/support/MessageLoop.h"

#include <future>
#include <thread>

namespace
{
    std::future<bool> lockOnAnotherThread()
    {
        return std::async (std::launch::async, [] { MessageThreadLock lock; return lock.lockWasGained(); });
    }

    bool isReady (std::future<bool>& result)
    {
        return result.wait_for (std::chrono::seconds (0)) == std::future_status::ready;
    }
}

TEST (MessageThreadLock, ARefusalAbortsAWaitingLockAndRefusesNewOnesButNeverTheMessageThread)
{
    // The message loop does not run here, so only the refusal can end this wait.
    auto waiting = lockOnAnotherThread();
    juce::Thread::sleep (20);

    {
        const MessageThreadLock::Refusal refusal;
        ASSERT_EQ (waiting.wait_for (std::chrono::seconds (5)), std::future_status::ready);
        EXPECT_FALSE (waiting.get());
        EXPECT_FALSE (lockOnAnotherThread().get());

        const MessageThreadLock outer, nested;
        EXPECT_TRUE (outer.lockWasGained() && nested.lockWasGained());
    }

    auto after = lockOnAnotherThread();
    EXPECT_TRUE (pumpMessagesUntil ([&] { return isReady (after); }));
    EXPECT_TRUE (after.get());
}

//==============================================================================
class DeliveryUnderLock : public DeviceLinkFixture
{
protected:
    void SetUp() override
    {
        DeviceLinkFixture::SetUp();
        fsm().addMessageListener (&listener);
        connect();
    }

    struct Listener : public MIDIMessageListener
    {
        explicit Listener (DeliveryUnderLock& o) : owner (o) {}
        void handleMidiMessage (const juce::MidiMessage&) override  { owner.deliver(); }
        DeliveryUnderLock& owner;
    };

    void deliver()
    {
        deliveryThread = std::this_thread::get_id();
        ++deliveries;
        entered = true;

        if (sendFromDelivery)
            send (frame());

        if (! takeLock)
            return;

        MessageThreadLock lock;

        if (! lock.lockWasGained())
        {
            ++refused;
            return;
        }

        heldWhileDelivering = juce::MessageManager::getInstance()->currentThreadHasLockedMessageManager();
        ++gained;
    }

    std::atomic<bool> entered { false }, heldWhileDelivering { false };
    std::atomic<int> gained { 0 }, refused { 0 }, deliveries { 0 };
    std::atomic<bool> takeLock { true }, sendFromDelivery { false };
    std::thread::id deliveryThread;
    Listener listener { *this };
};

TEST_F (DeliveryUnderLock, OnlyTheDevicesInputIsDeliveredOnItsThreadUnderTheLock)
{
    device->sendToHost (frame());

    EXPECT_TRUE (pumpMessagesUntil ([&] { return gained.load() == 1; }));
    EXPECT_TRUE (device->waitUntilDelivered());
    EXPECT_TRUE (heldWhileDelivering);
    EXPECT_NE (deliveryThread, std::this_thread::get_id());
    EXPECT_EQ (state(), stateIdle);
    EXPECT_EQ (takeDelivered().size(), 1u);

    // Another input's identifier, even one differing only in case, is ignored.
    fsm().setCurrentState (stateConnected);
    auto& callback = *fsm().getPortCallback();
    callback.handleIncomingMidiMessage ("virtual-in-before-0", frame());
    callback.handleIncomingMidiMessage (device->getInputIdentifier().toUpperCase(), frame());
    EXPECT_TRUE (takeDelivered().empty());
    EXPECT_EQ (state(), stateConnected);
}

TEST_F (DeliveryUnderLock, ClosingWhileTheInputThreadWaitsForTheLockDoesNotDeadlock)
{
    device->sendToHost (frame());

    // The delivery now waits for the message thread, which does not run its loop here.
    while (! entered)
        std::this_thread::yield();

    std::promise<void> closed;
    std::thread watchdog ([done = closed.get_future()]
    {
        if (done.wait_for (std::chrono::seconds (5)) == std::future_status::ready)
            return;

        std::fprintf (stderr, "close deadlocked with the delivery\n");
        std::abort();
    });

    closeDevice();
    closed.set_value();
    watchdog.join();

    EXPECT_EQ (refused.load(), 1);
    EXPECT_EQ (gained.load(), 0);
    EXPECT_TRUE (device->waitUntilDelivered());
    EXPECT_EQ (device->getNumOpenInputs(), 0);
}

TEST_F (DeliveryUnderLock, StopKeepsItsPromiseUnderLoad)
{
    // Many deliveries in flight while the pair closes: none may reach the machine afterwards.
    takeLock = false;

    for (int round = 0; round < 20; ++round)
    {
        for (int i = 0; i < 200; ++i)
            device->sendToHost (frame());

        while (deliveries.load() == 0)
            std::this_thread::yield();

        portPair().close();
        const auto afterClose = deliveries.load();

        EXPECT_TRUE (device->waitUntilDelivered());
        EXPECT_EQ (deliveries.load(), afterClose) << "round " << round;
        deliveries = 0;

        fsm().setCurrentState (stateSearching);
        tick();
        ASSERT_EQ (state(), stateConnected);
        pumpMessagesFor (1);
    }
}

TEST_F (DeliveryUnderLock, AWriteThatThrowsDuringADeliveryClosesThePortsFromTheInputThread)
{
    takeLock = false;
    sendFromDelivery = true;
    device->setThrowOnWrite (true);

    device->sendToHost (frame());
    ASSERT_TRUE (device->waitUntilDelivered());

    EXPECT_EQ (state(), stateIdle);
    EXPECT_FALSE (portPair().hasInput());
    EXPECT_EQ (device->getNumStartedInputs(), 0);

    // The input is released on the message thread once its delivery has unwound.
    EXPECT_TRUE (pumpMessagesUntil ([&] { return device->getNumOpenInputs() == 0; }));

    tick();
    EXPECT_EQ (state(), stateDisconnected);
}
