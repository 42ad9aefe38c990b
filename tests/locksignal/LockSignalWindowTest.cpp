#include "device/MessageThreadLock.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/TimeLimit.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

using FrameworkLock = juce::MessageManager::Lock;
using namespace std::chrono_literals;

namespace
{
    /** Holds open the window between the message thread's grant of a lock and its signal to the taker:
        the message thread pauses inside the signal until the taker's round is over, and the taker, once
        its request has woken the message queue, waits for that pause, so it finds the lock granted
        before the signal. Counts the locks destroyed while the message thread was still to signal them. */
    struct SignalWindow
    {
        static bool liesIn (const void* address, const FrameworkLock* lock)
        {
            const auto* start = reinterpret_cast<const char*> (lock);
            return static_cast<const char*> (address) >= start && static_cast<const char*> (address) < start + sizeof (FrameworkLock);
        }

        bool isTaker() const            { return armed && std::this_thread::get_id() == taker; }
        void disarm()                   { armed = false; }

        // On the taking thread, before its first round.
        void arm()
        {
            const std::lock_guard<std::mutex> g (mutex);
            lockInUse = nullptr;
            round = roundsEnded = pausedRound = windows = destroyedBeforeSignal = 0;
            taker = std::this_thread::get_id();
            armed = true;
        }

        void beginRound()               { const std::lock_guard<std::mutex> g (mutex); ++round; }
        void endRound()                 { const std::lock_guard<std::mutex> g (mutex); roundsEnded = round; changed.notify_all(); }
        void entering (const FrameworkLock* lock)   { const std::lock_guard<std::mutex> g (mutex); lockInUse = lock; }
        void awaitPausedSignal()        { std::unique_lock<std::mutex> g (mutex); changed.wait_for (g, 200ms, [this] { return pausedRound == round; }); }
        void signalOver()               { const std::lock_guard<std::mutex> g (mutex); signalling = nullptr; changed.notify_all(); }

        bool pauseBeforeSignal (const juce::WaitableEvent* event)
        {
            std::unique_lock<std::mutex> g (mutex);

            if (lockInUse == nullptr || ! liesIn (event, lockInUse) || pausedRound == round)
                return false;

            pausedRound = round;
            signalling = event;
            ++windows;
            changed.notify_all();
            changed.wait_for (g, 200ms, [this, r = round] { return roundsEnded >= r || lockDying; });
            return true;
        }

        // Lets the signal into a dying lock happen while its memory is still there.
        void destroying (const FrameworkLock* lock)
        {
            std::unique_lock<std::mutex> g (mutex);

            if (signalling == nullptr || ! liesIn (signalling, lock))
                return;

            ++destroyedBeforeSignal;
            lockDying = true;
            changed.notify_all();
            changed.wait (g, [this] { return signalling == nullptr; });
            lockDying = false;
        }

        std::atomic<bool> armed { false };
        std::thread::id taker;
        std::mutex mutex;
        std::condition_variable changed;
        const FrameworkLock* lockInUse = nullptr;
        const void* signalling = nullptr;
        int round = 0, roundsEnded = 0, pausedRound = 0, windows = 0, destroyedBeforeSignal = 0;
        bool lockDying = false;
    } window;
}

extern "C"
{
    ssize_t __real_write (int, const void*, size_t);
    void __real__ZNK4juce13WaitableEvent6signalEv (const juce::WaitableEvent*);
    bool __real__ZNK4juce14MessageManager4Lock8tryEnterEv (const FrameworkLock*);
    void __real__ZN4juce14MessageManager4LockD1Ev (FrameworkLock*);

    // The message queue's wake-up.
    ssize_t __wrap_write (int fd, const void* data, size_t size)
    {
        const auto written = __real_write (fd, data, size);

        if (window.isTaker())
            window.awaitPausedSignal();

        return written;
    }

    // juce::WaitableEvent::signal() const
    void __wrap__ZNK4juce13WaitableEvent6signalEv (const juce::WaitableEvent* event)
    {
        const auto paused = window.armed && juce::MessageManager::existsAndIsCurrentThread() && window.pauseBeforeSignal (event);
        __real__ZNK4juce13WaitableEvent6signalEv (event);

        if (paused)
            window.signalOver();
    }

    // juce::MessageManager::Lock::tryEnter() const
    bool __wrap__ZNK4juce14MessageManager4Lock8tryEnterEv (const FrameworkLock* lock)
    {
        if (window.isTaker())
            window.entering (lock);

        return __real__ZNK4juce14MessageManager4Lock8tryEnterEv (lock);
    }

    // juce::MessageManager::Lock::~Lock()
    void __wrap__ZN4juce14MessageManager4LockD1Ev (FrameworkLock* lock)
    {
        if (window.armed)
            window.destroying (lock);

        __real__ZN4juce14MessageManager4LockD1Ev (lock);
    }
}

TEST (MessageThreadLockSignal, EveryGrantedLockOutlivesTheMessageThreadsSignalToIt)
{
    constexpr int grants = 1000;
    std::atomic<int> gained { 0 };
    std::atomic<bool> done { false };

    std::thread taker ([&]
    {
        window.arm();

        for (int i = 0; i < grants; ++i)
        {
            window.beginRound();
            gained += MessageThreadLock().lockWasGained() ? 1 : 0;
            window.endRound();
        }

        window.disarm();
        done = true;
    });

    runWithinSeconds (30, "1000 grants", [&] { pumpMessagesUntil ([&] { return done.load(); }, 20000); });
    taker.join();

    const std::lock_guard<std::mutex> g (window.mutex);
    EXPECT_EQ (gained, grants);
    EXPECT_GT (window.windows, grants / 2);     // most grants were found before their signal
    EXPECT_EQ (window.destroyedBeforeSignal, 0) << "of " << window.windows << " grants found before their signal";
}

// Once the quit is posted the message thread takes no more messages, so a lock granted just before
// cannot be handed back to it; the lock must still outlive the signal. Runs last: it ends the message loop.
TEST (MessageThreadLockSignal, ALockReleasedAfterTheQuitWasPostedOutlivesTheSignalToIt)
{
    std::atomic<bool> done { false };

    std::thread taker ([&]
    {
        window.arm();
        window.beginRound();

        {
            const MessageThreadLock lock;
            EXPECT_TRUE (lock.lockWasGained());
            juce::MessageManager::getInstance()->stopDispatchLoop();
        }

        window.endRound();
        window.disarm();
        done = true;
    });

    runWithinSeconds (10, "a grant as the quit comes", [&] { pumpMessagesUntil ([&] { return done.load(); }, 5000); });
    taker.join();

    const std::lock_guard<std::mutex> g (window.mutex);
    EXPECT_EQ (std::make_pair (window.windows, window.destroyedBeforeSignal), std::make_pair (1, 0));
}

// After the quit nothing is granted any more: a delivery that asks then must return at once,
// not spin until the ports are closed.
TEST (MessageThreadLockSignal, ALockAskedForAfterTheQuitIsRefusedAtOnce)
{
    juce::MessageManager::getInstance()->stopDispatchLoop();
    std::atomic<bool> gained { true };

    runWithinSeconds (5, "a lock asked for after the quit", [&]
    {
        std::thread delivery ([&] { gained = MessageThreadLock().lockWasGained(); });
        delivery.join();
    });

    EXPECT_FALSE (gained.load());
}
