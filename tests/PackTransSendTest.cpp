#include "device/CPackTrans.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/TrafficBytes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{
    using namespace traffic;
    using Events = std::vector<std::string>;

    /** Stands in for the MIDI link: logs frames, pauses and progress calls in order. */
    struct SendSide : public ::testing::Test,
                      public COMMIntf,
                      public MIDIReciverListener
    {
        SendSide()  { transport->addReceiver (this); }

        int send (const juce::Array<juce::uint8>& frame, int length) override
        {
            frames.emplace_back (frame.begin(), frame.begin() + length);
            events.push_back ("send " + std::to_string (length));
            return length;
        }

        void sendProgress (int offset, int total) override
        {
            events.push_back ("progress " + std::to_string (offset) + "/" + std::to_string (total));
        }

        void enqueue (const Bytes& message)
        {
            transport->enqueueMessage (juce::Array<juce::uint8> (message.data(), (int) message.size()));
        }

        void pump (int ticks = 200)
        {
            for (int i = 0; i < ticks; ++i)
                transport->sendPump();
        }

        std::unique_ptr<CPackTrans> transport = std::make_unique<CPackTrans> (this, [this] (int ms)
        {
            events.push_back ("sleep " + std::to_string (ms));
        });

        std::vector<Bytes> frames;
        Events events;
    };

    /** A chunk as the link is given it: without F0 and F7. */
    Bytes expectedChunk (const Bytes& message, int offset, int count)
    {
        const auto frame = chunk ((int) message.size(), offset, Bytes (message.begin() + offset, message.begin() + offset + count));
        return Bytes (frame.begin() + 1, frame.end() - 1);
    }
}

TEST_F (SendSide, MessagesAreCutInto183ByteChunksWithTheirPausesAndTheLongestIsTheLimit)
{
    const std::vector<std::pair<int, Events>> cases
    {
        { 0,   { "send 12", "progress 0/0", "sleep 5" } },
        { 183, { "send 378", "progress 183/183", "sleep 5" } },
        { 184, { "send 378", "send 14", "progress 184/184", "sleep 1000", "sleep 5" } },
        { 366, { "send 378", "send 378", "progress 366/366", "sleep 1000", "sleep 5" } },
        { 600, { "send 378", "send 378", "sleep 5", "send 378", "sleep 5", "send 114", "progress 600/600", "sleep 1000", "sleep 5" } },
        { 16384, {} },      // cannot be framed: refused
        { 16383, {} },      // the longest that can: 90 chunks
    };

    for (auto& [size, expectedEvents] : cases)
    {
        SCOPED_TRACE (size);
        frames.clear();
        events.clear();

        const auto message = counting (size);
        enqueue (message);
        pump();

        if (size <= 600)
        {
            EXPECT_EQ (events, expectedEvents);
        }

        const auto expectedFrames = size > 16383 ? 0 : std::max (1, (size + 182) / 183);
        ASSERT_EQ (frames.size(), (size_t) expectedFrames);

        for (int i = 0; i < expectedFrames; ++i)
            EXPECT_EQ (frames[(size_t) i], expectedChunk (message, i * 183, std::min (183, size - i * 183)));
    }
}

// Device command 3 comes on the MIDI input thread and must wait for the message thread
// without deadlocking it; it drops what is queued, the message being sent goes on.
TEST_F (SendSide, DeviceCommandThreeFromTheInputThreadDropsQueuedMessagesButTheCurrentOneGoesOn)
{
    const auto current = counting (400);
    enqueue (current);
    enqueue ({ 9, 9 });
    enqueue ({ 8, 8 });
    pump (2);
    ASSERT_EQ (frames.size(), 1u);

    std::atomic<bool> dropped { false };
    std::thread input ([&]
    {
        const Bytes commandThree { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A, 0x03, 0xF7 };
        transport->onReceive (commandThree.data(), (int) commandThree.size());
        dropped = true;
    });

    EXPECT_TRUE (pumpMessagesUntil ([&] { return dropped.load(); }));
    input.join();

    pump();
    ASSERT_EQ (frames.size(), 3u);
    EXPECT_EQ (frames[2], expectedChunk (current, 366, 34));

    enqueue ({ 7 });
    pump();
    EXPECT_EQ (frames.size(), 4u);
}
