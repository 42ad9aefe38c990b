#include "device/CPackTrans.h"
#include "support/MessageLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{
    using Bytes = std::vector<juce::uint8>;

    /** Stands in for the MIDI link: logs frames, pauses and progress calls in order. */
    struct SendRecorder : public COMMIntf,
                          public MIDIReciverListener
    {
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

        void sleep (int ms)
        {
            events.push_back ("sleep " + std::to_string (ms));
        }

        std::vector<Bytes> frames;
        std::vector<std::string> events;
    };

    struct SendSide : public ::testing::Test
    {
        SendSide()
            : transport (std::make_unique<CPackTrans> (&recorder, [this] (int ms) { recorder.sleep (ms); }))
        {
            transport->addReceiver (&recorder);
        }

        void pump (int ticks)
        {
            for (int i = 0; i < ticks; ++i)
                transport->sendPump();
        }

        /** Pumps until a message has been taken, sent and finished, plus some idle ticks. */
        void sendMessage (const Bytes& message)
        {
            transport->enqueueMessage (juce::Array<juce::uint8> (message.data(), (int) message.size()));
            pump (200);
        }

        SendRecorder recorder;
        std::unique_ptr<CPackTrans> transport;
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
        Bytes frame { 0x21, 0x25, 0x7E, 'M', 'Z', '-', 0x0A, 0x11,
                      (juce::uint8) (total % 128), (juce::uint8) (total / 128),
                      (juce::uint8) (offset % 128), (juce::uint8) (offset / 128) };

        for (int i = offset; i < offset + count; ++i)
        {
            frame.push_back ((juce::uint8) (message[(size_t) i] / 16));
            frame.push_back ((juce::uint8) (message[(size_t) i] % 16));
        }

        return frame;
    }

    using Events = std::vector<std::string>;
}

TEST_F (SendSide, MessageOf183BytesIsOneFullFrameWithoutInnerPause)
{
    const auto message = distinctBytes (183);
    sendMessage (message);

    ASSERT_EQ (recorder.frames.size(), 1u);
    EXPECT_EQ (recorder.frames[0].size(), 378u);
    EXPECT_EQ (recorder.frames[0], expectedChunk (message, 0, 183));
    EXPECT_EQ (recorder.events, (Events { "send 378", "progress 183/183", "sleep 5" }));
}

TEST_F (SendSide, MessageOf184BytesIs183PlusOneWithOneSecondPauseAfterTheLast)
{
    const auto message = distinctBytes (184);
    sendMessage (message);

    ASSERT_EQ (recorder.frames.size(), 2u);
    EXPECT_EQ (recorder.frames[0], expectedChunk (message, 0, 183));
    EXPECT_EQ (recorder.frames[1], expectedChunk (message, 183, 1));
    EXPECT_EQ (recorder.events, (Events { "send 378", "send 14", "progress 184/184", "sleep 1000", "sleep 5" }));
}

TEST_F (SendSide, MessageOf366BytesEndsWithAFull183ByteLastChunk)
{
    const auto message = distinctBytes (366);
    sendMessage (message);

    ASSERT_EQ (recorder.frames.size(), 2u);
    EXPECT_EQ (recorder.frames[0], expectedChunk (message, 0, 183));
    EXPECT_EQ (recorder.frames[1], expectedChunk (message, 183, 183));
    EXPECT_EQ (recorder.events, (Events { "send 378", "send 378", "progress 366/366", "sleep 1000", "sleep 5" }));
}

TEST_F (SendSide, MiddleChunksPauseFiveMillisecondsAndOffsetsUseTwoSevenBitFields)
{
    const auto message = distinctBytes (600);
    sendMessage (message);

    ASSERT_EQ (recorder.frames.size(), 4u);

    for (int i = 0; i < 3; ++i)
        EXPECT_EQ (recorder.frames[(size_t) i], expectedChunk (message, i * 183, 183)) << "chunk " << i;

    EXPECT_EQ (recorder.frames[3], expectedChunk (message, 549, 51));
    EXPECT_EQ (recorder.frames[3][8], 600 % 128);
    EXPECT_EQ (recorder.frames[3][9], 600 / 128);
    EXPECT_EQ (recorder.frames[3][10], 549 % 128);
    EXPECT_EQ (recorder.frames[3][11], 549 / 128);
    EXPECT_EQ (recorder.events, (Events { "send 378", "send 378", "sleep 5", "send 378", "sleep 5",
                                          "send 114", "progress 600/600", "sleep 1000", "sleep 5" }));
}

TEST_F (SendSide, EmptyMessageIsATwelveByteFrameWithProgressZero)
{
    sendMessage ({});

    ASSERT_EQ (recorder.frames.size(), 1u);
    EXPECT_EQ (recorder.frames[0], (Bytes { 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A, 0x11, 0, 0, 0, 0 }));
    EXPECT_EQ (recorder.events, (Events { "send 12", "progress 0/0", "sleep 5" }));
}

TEST_F (SendSide, RecordRequestIsTheTwentyTwoByteSingleRecordFrame)
{
    sendMessage ({ 0x02, 0x20, 0x00, 0x00 });

    ASSERT_EQ (recorder.frames.size(), 1u);
    // 20 bytes between F0 and F7: 22 on the wire.
    EXPECT_EQ (recorder.frames[0], (Bytes { 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A,
                                            0x11, 0x04, 0x00, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00 }));
}

TEST_F (SendSide, PumpTakesAMessageOnATickOfItsOwnAndSendsOneChunkPerTick)
{
    transport->enqueueMessage (juce::Array<juce::uint8> { 1, 2, 3 });
    transport->enqueueMessage (juce::Array<juce::uint8> { 4 });

    transport->sendPump();
    EXPECT_TRUE (recorder.frames.empty());

    transport->sendPump();
    ASSERT_EQ (recorder.frames.size(), 1u);
    EXPECT_EQ (recorder.frames[0][8], 3);

    transport->sendPump();
    EXPECT_EQ (recorder.frames.size(), 1u);

    transport->sendPump();
    ASSERT_EQ (recorder.frames.size(), 2u);
    EXPECT_EQ (recorder.frames[1][8], 1);

    pump (10);
    EXPECT_EQ (recorder.frames.size(), 2u);
}

TEST_F (SendSide, MessageThatCannotBeFramedIsRefusedAndTheLongestFramableIsAccepted)
{
    transport->enqueueMessage (juce::Array<juce::uint8> (distinctBytes (16384).data(), 16384));
    transport->enqueueMessage (juce::Array<juce::uint8> (distinctBytes (20000).data(), 20000));
    pump (20);
    EXPECT_TRUE (recorder.frames.empty());

    const auto longest = distinctBytes (16383);
    sendMessage (longest);

    ASSERT_EQ (recorder.frames.size(), 90u);
    EXPECT_EQ (recorder.frames[0], expectedChunk (longest, 0, 183));
    EXPECT_EQ (recorder.frames.back(), expectedChunk (longest, 89 * 183, 16383 - 89 * 183));
    EXPECT_EQ (recorder.events[recorder.events.size() - 3], "progress 16383/16383");
}

//==============================================================================
namespace
{
    Bytes commandThreeFrame()
    {
        return { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A, 0x03, 0xF7 };
    }
}

TEST_F (SendSide, DeviceCommandThreeDropsQueuedMessagesButTheCurrentOneGoesOn)
{
    const auto current = distinctBytes (400);
    transport->enqueueMessage (juce::Array<juce::uint8> (current.data(), (int) current.size()));
    transport->enqueueMessage (juce::Array<juce::uint8> { 9, 9 });
    transport->enqueueMessage (juce::Array<juce::uint8> { 8, 8 });

    pump (2);
    ASSERT_EQ (recorder.frames.size(), 1u);

    const auto command = commandThreeFrame();
    transport->onReceive (command.data(), (int) command.size());

    pump (50);
    ASSERT_EQ (recorder.frames.size(), 3u);
    EXPECT_EQ (recorder.frames[2], expectedChunk (current, 366, 34));

    transport->enqueueMessage (juce::Array<juce::uint8> { 7 });
    pump (5);
    ASSERT_EQ (recorder.frames.size(), 4u);
    EXPECT_EQ (recorder.frames[3][8], 1);
}

TEST_F (SendSide, DeviceCommandThreeFromAnotherThreadWaitsForTheMessageThreadWithoutDeadlock)
{
    for (juce::uint8 i = 0; i < 3; ++i)
        transport->enqueueMessage (juce::Array<juce::uint8> { i });

    std::atomic<bool> dropped { false };

    std::thread input ([&]
    {
        const auto command = commandThreeFrame();
        transport->onReceive (command.data(), (int) command.size());
        dropped = true;
    });

    EXPECT_TRUE (pumpMessagesUntil ([&] { return dropped.load(); }));
    input.join();

    pump (20);
    EXPECT_TRUE (recorder.frames.empty());

    transport->enqueueMessage (juce::Array<juce::uint8> { 5, 6 });
    pump (5);
    EXPECT_EQ (recorder.frames.size(), 1u);
}
