#include "device/CPackTrans.h"

#include <gtest/gtest.h>

namespace
{
    using Bytes = std::vector<juce::uint8>;

    struct Call
    {
        std::string what;
        Bytes bytes;
    };

    struct ReceiveRecorder : public MIDIReciverListener
    {
        void programChange (const juce::uint8* d, int n) override  { record ("programChange", d, n); }
        void controlChange (const juce::uint8* d, int n) override  { record ("controlChange", d, n); }
        void handlePacket (const juce::uint8* d, int n) override   { record ("handlePacket", d, n); }
        void systemReply (const juce::uint8* d, int n) override    { record ("systemReply", d, n); }
        void sysExReply (const juce::uint8* d, int n) override     { record ("sysExReply", d, n); }

        void record (const char* what, const juce::uint8* data, int length)
        {
            calls.push_back ({ what, Bytes (data, data + length) });
        }

        std::vector<std::string> names() const
        {
            std::vector<std::string> result;

            for (auto& call : calls)
                result.push_back (call.what);

            return result;
        }

        std::vector<Call> calls;
    };

    struct ReceiveSide : public ::testing::Test
    {
        ReceiveSide()
        {
            transport->addReceiver (&recorder);
        }

        /** Delivers a message from a buffer of exactly its size. */
        void receive (const Bytes& message)
        {
            auto exact = std::make_unique<juce::uint8[]> (message.size());
            std::copy (message.begin(), message.end(), exact.get());
            transport->onReceive (exact.get(), (int) message.size());
        }

        std::unique_ptr<CPackTrans> transport { std::make_unique<CPackTrans>() };
        ReceiveRecorder recorder;
    };

    /** One data packet chunk on the wire: F0, signature, 0x11, total, offset, nibbles, F7. */
    Bytes chunk (int total, int offset, const Bytes& payload)
    {
        Bytes frame { 0xF0, 0x21, 0x25, 0x7E, 'M', 'Z', '-', 0x0A, 0x11,
                      (juce::uint8) (total & 0x7F), (juce::uint8) (total >> 7),
                      (juce::uint8) (offset & 0x7F), (juce::uint8) (offset >> 7) };

        for (auto byte : payload)
        {
            frame.push_back ((juce::uint8) (byte >> 4));
            frame.push_back ((juce::uint8) (byte & 0x0F));
        }

        frame.push_back (0xF7);
        return frame;
    }

    Bytes packetBytes (int count, int seed = 0)
    {
        Bytes bytes;

        for (int i = 0; i < count; ++i)
            bytes.push_back ((juce::uint8) (i * 13 + seed));

        return bytes;
    }

    Bytes slice (const Bytes& bytes, int from, int count)
    {
        return Bytes (bytes.begin() + from, bytes.begin() + from + count);
    }

    Bytes systemReplyFrame (int length, juce::uint8 firstByteAfterF0 = 0x21)
    {
        Bytes frame { 0xF0, firstByteAfterF0, 0x99, 0x98, 0x97, 0x96, 0x95, 0x94, 0x11, 0x12, 0x00, 0x00, 0x00, 0x01 };

        if (length == 16)
            frame.push_back (0x05);

        frame.push_back (0xF7);
        return frame;
    }

    using Names = std::vector<std::string>;
}

//==============================================================================
TEST_F (ReceiveSide, ClassifiesChannelMessagesAndIgnoresOtherStatusBytes)
{
    receive ({ 0xB3, 0x07, 0x64 });
    receive ({ 0xC1, 0x05 });
    receive ({ 0x90, 0x3C, 0x40 });
    receive ({ 0xE0, 0x00, 0x40 });
    receive ({ 0xF8 });
    receive ({ 0xF0, 0x7E });

    EXPECT_EQ (recorder.names(), (Names { "controlChange", "programChange" }));
    EXPECT_EQ (recorder.calls[0].bytes, (Bytes { 0xB3, 0x07, 0x64 }));
    EXPECT_EQ (recorder.calls[1].bytes, (Bytes { 0xC1, 0x05 }));
}

TEST_F (ReceiveSide, UpdateReplyTakesPrecedenceOverTheSystemReplyShape)
{
    // 15 bytes with 12 00 00 00 at bytes 9 to 12: still an update reply because of 7E 48.
    const Bytes reply { 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0, 0, 0, 0, 0x12, 0x00, 0x00, 0x00, 0x01, 0xF7 };
    receive (reply);
    receive ({ 0xF0, 0x7E, 0x48, 0xF7 });

    ASSERT_EQ (recorder.names(), (Names { "sysExReply", "sysExReply" }));
    EXPECT_EQ (recorder.calls[0].bytes, reply);
}

TEST_F (ReceiveSide, SystemReplyIsRecognisedByLengthAndAddressOnly)
{
    receive (systemReplyFrame (15));
    receive (systemReplyFrame (16, 0x00));

    auto seventeen = systemReplyFrame (16);
    seventeen.insert (seventeen.end() - 1, 0x00);
    receive (seventeen);

    auto otherAddress = systemReplyFrame (15);
    otherAddress[12] = 0x01;
    receive (otherAddress);

    ASSERT_EQ (recorder.names(), (Names { "systemReply", "systemReply" }));
    EXPECT_EQ (recorder.calls[0].bytes, systemReplyFrame (15));
    EXPECT_EQ (recorder.calls[1].bytes.size(), 16u);
}

//==============================================================================
TEST_F (ReceiveSide, ReassemblesAPacketFromInOrderChunks)
{
    const auto packet = packetBytes (400);

    receive (chunk (400, 0, slice (packet, 0, 183)));
    receive (chunk (400, 183, slice (packet, 183, 183)));
    EXPECT_TRUE (recorder.calls.empty());

    receive (chunk (400, 366, slice (packet, 366, 34)));

    ASSERT_EQ (recorder.names(), (Names { "handlePacket" }));
    EXPECT_EQ (recorder.calls[0].bytes, packet);
}

TEST_F (ReceiveSide, EmptyPacketCompletesAtOnceAndOddNibbleIsIgnored)
{
    receive (chunk (0, 0, {}));

    auto withOddNibble = chunk (2, 0, { 0xAB, 0xCD });
    withOddNibble.insert (withOddNibble.end() - 1, 0x0E);
    receive (withOddNibble);

    ASSERT_EQ (recorder.names(), (Names { "handlePacket", "handlePacket" }));
    EXPECT_TRUE (recorder.calls[0].bytes.empty());
    EXPECT_EQ (recorder.calls[1].bytes, (Bytes { 0xAB, 0xCD }));
}

TEST_F (ReceiveSide, ShortMessagesAreDroppedWithoutReadingPastTheirEnd)
{
    // Each is cut short of the fields that its tests would look at.
    for (int length = 1; length < 14; ++length)
    {
        auto cut = chunk (0, 0, {});
        cut.resize ((size_t) length);
        receive (cut);
    }

    EXPECT_TRUE (recorder.calls.empty());
}

TEST_F (ReceiveSide, OutOfOrderOrForeignChunksAreDropped)
{
    const auto packet = packetBytes (300);

    receive (chunk (300, 0, slice (packet, 0, 183)));
    receive (chunk (300, 200, slice (packet, 183, 100)));     // wrong offset
    receive (chunk (301, 183, slice (packet, 183, 117)));     // right offset, other total
    receive (chunk (50, 10, packetBytes (40)));               // continues nothing
    EXPECT_TRUE (recorder.calls.empty());

    receive (chunk (300, 183, slice (packet, 183, 117)));

    ASSERT_EQ (recorder.names(), (Names { "handlePacket" }));
    EXPECT_EQ (recorder.calls[0].bytes, packet);
}

TEST_F (ReceiveSide, ChunkWithOtherTotalAtOffsetZeroOpensTheNextSlot)
{
    const auto first = packetBytes (10, 1);
    const auto second = packetBytes (8, 2);

    receive (chunk (10, 0, slice (first, 0, 5)));
    receive (chunk (8, 0, second));                      // a new packet; the first stays open
    receive (chunk (10, 5, slice (first, 5, 5)));        // no longer the current slot

    ASSERT_EQ (recorder.names(), (Names { "handlePacket" }));
    EXPECT_EQ (recorder.calls[0].bytes, second);
}

TEST_F (ReceiveSide, ChunkRunningPastTheBufferIsDroppedAndItsSlotStaysOpen)
{
    const int total = 16383;
    const auto packet = packetBytes (total);
    int offset = 0;

    while (offset + 183 < total)
    {
        receive (chunk (total, offset, slice (packet, offset, 183)));
        offset += 183;
    }

    // A last chunk two bytes too long would end at 16,385, past the slot's buffer.
    receive (chunk (total, offset, packetBytes (total - offset + 2)));
    EXPECT_TRUE (recorder.calls.empty());

    receive (chunk (total, offset, slice (packet, offset, total - offset)));

    ASSERT_EQ (recorder.names(), (Names { "handlePacket" }));
    EXPECT_EQ (recorder.calls[0].bytes, packet);
}

TEST_F (ReceiveSide, SlotOfAPacketThatNeverCompletesStaysOccupiedAroundTheRing)
{
    // Slot 1 holds a packet that never completes.
    receive (chunk (10, 0, packetBytes (4)));

    // 63 complete packets take slots 2 to 63 and then slot 0.
    for (int i = 0; i < 63; ++i)
        receive (chunk (3, 0, packetBytes (3, i)));

    ASSERT_EQ (recorder.calls.size(), 63u);
    EXPECT_EQ (recorder.calls.back().bytes, packetBytes (3, 62));

    // The next packet would need slot 1: every such first chunk is dropped, however often.
    for (int i = 0; i < 3; ++i)
        receive (chunk (3, 0, packetBytes (3, 100)));

    EXPECT_EQ (recorder.calls.size(), 63u);

    // The stuck packet cannot be completed either: it is not the current slot.
    receive (chunk (10, 4, packetBytes (6)));
    EXPECT_EQ (recorder.calls.size(), 63u);

    // What does not need a new slot still arrives.
    receive (chunk (0, 0, {}));
    receive (systemReplyFrame (15));
    receive ({ 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0xF7 });

    EXPECT_EQ (recorder.names().back(), "sysExReply");
    EXPECT_EQ (recorder.calls.size(), 66u);
    EXPECT_EQ (recorder.calls[63].what, "handlePacket");
    EXPECT_TRUE (recorder.calls[63].bytes.empty());
}
