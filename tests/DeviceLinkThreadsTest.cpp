#include "device/DataListener.h"
#include "device/ReceivedMsgHandle.h"
#include "tests/support/TrafficBytes.h"

#include <gtest/gtest.h>

#include <thread>

using namespace traffic;

namespace
{
    struct CountingListener : public DataListener
    {
        void deviceState (int) override                             { ++states; }
        void sysExMessage (int, const juce::uint8*, int) override  { ++replies; }
        void sendProgress (int, int) override                       { ++progress; }

        std::atomic<int> states { 0 }, replies { 0 }, progress { 0 };
    };

    /** Runs `input` on a thread while `message` runs on this one, both as soon as both are ready. */
    template <typename Input, typename Message>
    void runTogether (Input&& input, Message&& message)
    {
        std::atomic<int> ready { 0 };
        std::thread other ([&] { ++ready; while (ready < 2) std::this_thread::yield(); input(); });
        ++ready;

        while (ready < 2)
            std::this_thread::yield();

        message();
        other.join();
    }
}

// Replies are walked on the MIDI input thread while the message thread walks the send progress and
// changes the list; the list must not be left linked to either walk (ASan, TSan).
TEST (ListenerWalks, TheDispatchersListenersMayBeWalkedFromTwoThreadsAtOnce)
{
    constexpr int count = 2000;
    const auto reply = concat ({ signature, { 0x11, 0x12, 0x00, 0x00, 0x00, 0x01, 0x05, 0xF7 } });     // 15 bytes
    const Bytes update { 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0xF7 };

    for (int round = 0; round < 10; ++round)
    {
        auto dispatcher = std::make_unique<ReceivedMsgHandle>();
        CountingListener first, last, passing;
        dispatcher->addListener (&first);
        dispatcher->addListener (&last);
        auto& receiver = dispatcher->getReceiver();

        runTogether ([&] { for (int i = 0; i < count; ++i) { receiver.systemReply (reply.data(), 15); receiver.sysExReply (update.data(), 6); } },
                     [&] { for (int i = 0; i < count; ++i) { receiver.sendProgress (i, count); dispatcher->addListener (&passing);
                                                            dispatcher->removeListener (&passing); } });

        dispatcher.reset();     // a list left linked to a dead walk writes through it here

        for (auto* listener : { &first, &last })
            EXPECT_EQ (std::make_tuple (listener->states.load(), listener->replies.load(), listener->progress.load()),
                       std::make_tuple (count, count, count));
    }
}
