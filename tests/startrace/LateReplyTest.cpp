#include "firmware/FirmwareUpdate.h"
#include "tests/support/FirmwareFileBuilder.h"
#include "tests/support/TimeLimit.h"
#include "tests/support/UpdateCommandRecorder.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <condition_variable>
#include <mutex>
#include <thread>

extern "C" int __real_pthread_mutex_lock (pthread_mutex_t* mutex);

namespace
{
    // Run once, on the thread that armed it, before its next mutex lock; cleared before it runs, so
    // that the locks it takes itself go straight through.
    thread_local std::function<void()>* beforeNextLock = nullptr;
}

extern "C" int __wrap_pthread_mutex_lock (pthread_mutex_t* mutex)
{
    if (auto* hold = std::exchange (beforeNextLock, nullptr))
        (*hold)();

    return __real_pthread_mutex_lock (mutex);
}

namespace
{
    using Bytes = std::vector<juce::uint8>;
    using namespace std::chrono_literals;

    /** Where the late reply and the start stand. */
    struct Steps
    {
        void reach (int step)           { const std::lock_guard<std::mutex> g (lock); reached = std::max (reached, step); changed.notify_all(); }
        bool await (int step, std::chrono::milliseconds limit)
        {
            std::unique_lock<std::mutex> g (lock);
            return changed.wait_for (g, limit, [&] { return reached >= step; });
        }

        enum { replyAtTheLock = 1, startHandedOn, replyDone };
        std::mutex lock;
        std::condition_variable changed;
        int reached = 0;
    };

    struct RecordingSender : public DataListener
    {
        void sysExMessage (int length, const juce::uint8* data, int) override
        {
            {
                const std::lock_guard<std::mutex> g (lock);
                sent.emplace_back (data, data + length);
            }

            // While START is being written, give the late reply time to be taken for its answer.
            if (length == 3 && data[2] == 0x01)
            {
                steps.reach (Steps::startHandedOn);
                steps.await (Steps::replyDone, 300ms);
            }
        }

        std::vector<Bytes> takeSent()   { const std::lock_guard<std::mutex> g (lock); return std::exchange (sent, {}); }

        Steps& steps;
        std::mutex lock;
        std::vector<Bytes> sent;

        explicit RecordingSender (Steps& s) : steps (s) {}
    };

    Bytes startReply (int blockSize)
    {
        Bytes bytes (39, 0x11);
        bytes[0] = 0xF0, bytes[1] = 0x7E, bytes[2] = 0x48, bytes[3] = 0x55;
        bytes[36] = (juce::uint8) (blockSize >> 4), bytes[37] = (juce::uint8) (blockSize & 0x0F), bytes[38] = 0xF7;
        return bytes;
    }
}

// A reply that reached the engine before START was handed to the senders comes from an earlier exchange,
// even when it gets the engine's lock only once START is being written, or is back: it is no answer to
// START. Here it is held between its arrival and the lock until START's write is under way.
TEST (LateReply, AReplyThatCameBeforeStartWasHandedOnIsNoAnswerToIt)
{
    const auto file = FirmwareFileBuilder().section (0x00, juce::MemoryBlock ("\1\2\3\4", 4)).writeTemporary();
    const Bytes abortReply { 0xF0, 0x7E, 0x48, 0x06, 0xF7 };

    for (const auto& late : { startReply (2), abortReply })
    {
        SCOPED_TRACE (late.size());
        Steps steps;
        RecordingSender sender (steps);
        UpdateCommandRecorder target;
        FirmwareUpdate engine;
        engine.senders.add (&sender);
        engine.setCommandTarget (&target);

        std::function<void()> holdAtTheLock = [&steps]
        {
            steps.reach (Steps::replyAtTheLock);
            steps.await (Steps::startHandedOn, 2000ms);
        };

        std::thread delivery ([&]
                              {
                                  beforeNextLock = &holdAtTheLock;
                                  engine.deviceReply ((int) late.size(), late.data());
                                  beforeNextLock = nullptr;
                                  steps.reach (Steps::replyDone);
                              });

        runWithinSeconds (10, "a start with a late reply held at the engine's lock", [&]
                          {
                              ASSERT_TRUE (steps.await (Steps::replyAtTheLock, 2000ms));
                              EXPECT_TRUE (engine.startUpdate (file->getFile(), true));
                              delivery.join();
                          });

        EXPECT_EQ (sender.takeSent(), std::vector<Bytes> { Bytes ({ 0x7E, 0x48, 0x01 }) });
        EXPECT_EQ (target.drain(), (std::vector<int> { updateStarted, updateStarted }));
        EXPECT_EQ (engine.getUpdatingState(), 0);
        EXPECT_EQ (engine.getReplyTimeout(), 15000);
    }
}
