#include "device/MessageThreadLock.h"
#include "tests/support/DeviceLinkFixture.h"
#include "tests/support/MessageLoop.h"

#include <future>
#include <thread>

namespace
{
    const juce::MidiMessage sysEx()
    {
        const juce::uint8 bytes[] { 0xF0, 0x7E, 0x48, 0x01, 0x7F, 0xF7 };
        return juce::MidiMessage (bytes, (int) sizeof (bytes));
    }
}

TEST (MessageThreadLock, IsGainedAtOnceOnTheMessageThread)
{
    MessageThreadLock lock;
    EXPECT_TRUE (lock.lockWasGained());

    const MessageThreadLock::Refusal refusal;   // a refusal does not concern the message thread
    MessageThreadLock nested;
    EXPECT_TRUE (nested.lockWasGained());
}

TEST (MessageThreadLock, AnotherThreadGetsTheLockWhileTheMessageLoopRuns)
{
    std::atomic<bool> done { false }, gained { false }, holdsIt { false };

    std::thread worker ([&]
    {
        MessageThreadLock lock;
        gained = lock.lockWasGained();
        holdsIt = juce::MessageManager::getInstance()->currentThreadHasLockedMessageManager();
        done = true;
    });

    EXPECT_TRUE (pumpMessagesUntil ([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE (gained);
    EXPECT_TRUE (holdsIt);
}

TEST (MessageThreadLock, ARefusalAbortsAWaitingLockAndRefusesNewOnes)
{
    std::promise<bool> firstResult;
    std::atomic<bool> started { false };

    // The message loop does not run here, so the lock cannot be gained: only the refusal ends the wait.
    std::thread worker ([&]
    {
        started = true;
        MessageThreadLock lock;
        firstResult.set_value (lock.lockWasGained());
    });

    while (! started)
        std::this_thread::yield();

    juce::Thread::sleep (20);

    {
        const MessageThreadLock::Refusal refusal;
        auto result = firstResult.get_future();
        ASSERT_EQ (result.wait_for (std::chrono::seconds (5)), std::future_status::ready);
        EXPECT_FALSE (result.get());

        std::promise<bool> secondResult;
        std::thread late ([&] { MessageThreadLock lock; secondResult.set_value (lock.lockWasGained()); });
        EXPECT_FALSE (secondResult.get_future().get());
        late.join();
    }

    worker.join();

    // Once the refusal ends, locks are gained again.
    std::atomic<bool> done { false }, gained { false };
    std::thread after ([&] { MessageThreadLock lock; gained = lock.lockWasGained(); done = true; });
    EXPECT_TRUE (pumpMessagesUntil ([&] { return done.load(); }));
    after.join();
    EXPECT_TRUE (gained);
}

//==============================================================================
class DeliveryUnderLock : public DeviceLinkFixture
{
protected:
    void SetUp() override
    {
        DeviceLinkFixture::SetUp();
        fsm().addMessageListener (&listener);
    }

    struct LockingListener : public MIDIMessageListener
    {
        explicit LockingListener (DeliveryUnderLock& o) : owner (o) {}
        void handleMidiMessage (const juce::MidiMessage&) override  { owner.deliver(); }
        DeliveryUnderLock& owner;
    };

    void deliver()
    {
        deliveryThread = std::this_thread::get_id();
        ++deliveries;
        entered = true;

        if (sendFromDelivery)
        {
            const auto reply = sysEx();
            fsm().fireEvent (evSendSysEx, const_cast<juce::MidiMessage*> (&reply));
        }

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
    LockingListener listener { *this };
};

TEST_F (DeliveryUnderLock, IncomingMessagesAreDeliveredOnTheDeviceThreadUnderTheLock)
{
    connect();
    device->sendToHost (sysEx());

    EXPECT_TRUE (pumpMessagesUntil ([&] { return gained.load() == 1; }));
    EXPECT_TRUE (device->waitUntilDelivered());
    EXPECT_TRUE (heldWhileDelivering);
    EXPECT_NE (deliveryThread, std::this_thread::get_id());
    EXPECT_EQ (state(), stateIdle);

    const auto delivered = takeDelivered();
    ASSERT_EQ (delivered.size(), 1u);
    EXPECT_EQ (delivered[0].getRawDataSize(), 6);
}

TEST_F (DeliveryUnderLock, MessagesFromAnotherInputAreIgnored)
{
    connect();
    auto message = sysEx();
    auto& callback = *fsm().getPortCallback();
    callback.handleIncomingMidiMessage ("virtual-in-before-0", message);
    callback.handleIncomingMidiMessage (device->getInputIdentifier().toUpperCase(), message);

    EXPECT_TRUE (takeDelivered().empty());
    EXPECT_EQ (state(), stateConnected);

    callback.handleIncomingMidiMessage (device->getInputIdentifier(), message);
    EXPECT_EQ (takeDelivered().size(), 1u);
}

TEST_F (DeliveryUnderLock, ClosingWhileTheInputThreadWaitsForTheLockDoesNotDeadlock)
{
    connect();
    device->sendToHost (sysEx());

    // The delivery now waits for the message thread, which does not run its loop here.
    while (! entered)
        std::this_thread::yield();

    std::atomic<bool> finished { false };
    std::thread watchdog ([&]
    {
        for (int i = 0; i < 500 && ! finished; ++i)
            juce::Thread::sleep (10);

        if (! finished)
        {
            std::fprintf (stderr, "close deadlocked with the delivery\n");
            std::abort();
        }
    });

    KRMIDIDeviceManager::getInstance()->closeDevice();
    finished = true;
    watchdog.join();

    EXPECT_EQ (refused.load(), 1);
    EXPECT_EQ (gained.load(), 0);
    EXPECT_TRUE (device->waitUntilDelivered());
    EXPECT_EQ (device->getNumOpenInputs(), 0);
}

TEST_F (DeliveryUnderLock, StopKeepsItsPromiseUnderLoad)
{
    // Many deliveries in flight while the pair closes: none may reach the machine afterwards.
    connect();
    takeLock = false;

    for (int round = 0; round < 20; ++round)
    {
        for (int i = 0; i < 200; ++i)
            device->sendToHost (sysEx());

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
    connect();
    takeLock = false;
    sendFromDelivery = true;
    device->setThrowOnWrite (true);

    device->sendToHost (sysEx());
    ASSERT_TRUE (device->waitUntilDelivered());

    EXPECT_EQ (state(), stateIdle);
    EXPECT_FALSE (portPair().hasInput());
    EXPECT_EQ (device->getNumStartedInputs(), 0);

    // The input is released on the message thread once its delivery has unwound.
    EXPECT_TRUE (pumpMessagesUntil ([&] { return device->getNumOpenInputs() == 0; }));

    tick();
    EXPECT_EQ (state(), stateDisconnected);
}
