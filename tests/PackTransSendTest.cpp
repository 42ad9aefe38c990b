#include "device/CPackTrans.h"
#include "support/MessageLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{
    using Bytes = std::vector<juce::uint8>;
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

    Bytes distinctBytes (int count)
    {
        Bytes bytes;

        for (int i = 0; i < count; ++i)
            bytes.push_back ((juce::uint8) (i * 7 + 3));

        return bytes;
    }

    /** A data packet chunk as the device expects it, without F0 and F7. */
    Bytes expectedChunk (const Bytes& message, int offset, int count)
    {
        const int total = (int) message.size();
        Bytes frame { 0x21, 0x25, 0x7E, 'M', 'Z', '-', 0x0A, 0x11, (juce::uint8) (total % 128), (juce::uint8) (total / 128),
                      (juce::uint8) (offset % 128), (juce::uint8) (offset / 128) };

        for (int i = offset; i < offset + count; ++i)
            frame.insert (frame.end(), { (juce::uint8) (message[(size_t) i] / 16), (juce::uint8) (message[(size_t) i] % 16) });

        return frame;
    }
}

TEST_F (SendSide, MessagesAreCutInto183ByteChunksWithTheirPauses)
{
    const std::vector<std::pair<int, Events>> cases
    {
        { 0,   { "send 12", "progress 0/0", "sleep 5" } },
        { 183, { "send 378", "progress 183/183", "sleep 5" } },
        { 184, { "send 378", "send 14", "progress 184/184", "sleep 1000", "sleep 5" } },
        { 366, { "send 378", "send 378", "progress 366/366", "sleep 1000", "sleep 5" } },
        { 600, { "send 378", "send 378", "sleep 5", "send 378", "sleep 5", "send 114", "progress 600/600", "sleep 1000", "sleep 5" } },
    };

    for (auto& [size, expectedEvents] : cases)
    {
        SCOPED_TRACE (size);
        frames.clear();
        events.clear();

        const auto message = distinctBytes (size);
        enqueue (message);
        pump();

        EXPECT_EQ (events, expectedEvents);
        ASSERT_EQ (frames.size(), (size_t) std::max (1, (size + 182) / 183));

        for (int i = 0; i < (int) frames.size(); ++i)
            EXPECT_EQ (frames[(size_t) i], expectedChunk (message, i * 183, std::min (183, size - i * 183)));
    }
}

TEST_F (SendSide, RecordRequestIsTheTwentyTwoByteSingleRecordFrame)
{
    enqueue ({ 0x02, 0x20, 0x00, 0x00 });
    pump();

    ASSERT_EQ (frames.size(), 1u);      // 20 bytes between F0 and F7
    EXPECT_EQ (frames[0], (Bytes { 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A, 0x11, 0x04, 0x00,
                                   0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00 }));
}

TEST_F (SendSide, TakingAMessageFromTheQueueTakesATickOfItsOwn)
{
    enqueue ({ 1, 2, 3 });
    enqueue ({ 4 });

    const std::vector<size_t> framesAfterTick { 0, 1, 1, 2, 2, 2 };

    for (auto expected : framesAfterTick)
    {
        transport->sendPump();
        EXPECT_EQ (frames.size(), expected);
    }
}

TEST_F (SendSide, MessageThatCannotBeFramedIsRefused)
{
    enqueue (distinctBytes (16384));
    pump (20);
    EXPECT_TRUE (frames.empty());

    const auto longest = distinctBytes (16383);
    enqueue (longest);
    pump();

    ASSERT_EQ (frames.size(), 90u);
    EXPECT_EQ (frames.back(), expectedChunk (longest, 89 * 183, 16383 - 89 * 183));
}

//==============================================================================
namespace
{
    const Bytes commandThree { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A, 0x03, 0xF7 };
}

TEST_F (SendSide, DeviceCommandThreeDropsQueuedMessagesButTheCurrentOneGoesOn)
{
    const auto current = distinctBytes (400);
    enqueue (current);
    enqueue ({ 9, 9 });
    enqueue ({ 8, 8 });

    pump (2);
    ASSERT_EQ (frames.size(), 1u);

    transport->onReceive (commandThree.data(), (int) commandThree.size());
    pump();
    ASSERT_EQ (frames.size(), 3u);
    EXPECT_EQ (frames[2], expectedChunk (current, 366, 34));

    enqueue ({ 7 });
    pump();
    EXPECT_EQ (frames.size(), 4u);
}

TEST_F (SendSide, DeviceCommandThreeOnTheInputThreadWaitsForTheMessageThread)
{
    enqueue ({ 1 });
    enqueue ({ 2 });
    std::atomic<bool> dropped { false };

    std::thread input ([&]
    {
        transport->onReceive (commandThree.data(), (int) commandThree.size());
        dropped = true;
    });

    EXPECT_TRUE (pumpMessagesUntil ([&] { return dropped.load(); }));
    input.join();

    pump();
    EXPECT_TRUE (frames.empty());
}
