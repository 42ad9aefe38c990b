#include "device/CPackTrans.h"
#include "tests/support/TrafficBytes.h"

#include <gtest/gtest.h>

namespace
{
    using namespace traffic;
    using Calls = std::vector<std::pair<std::string, Bytes>>;

    struct ReceiveSide : public ::testing::Test,
                         public MIDIReciverListener
    {
        ReceiveSide()   { transport->addReceiver (this); }

        void programChange (const juce::uint8* d, int n) override  { calls.push_back ({ "program", Bytes (d, d + n) }); }
        void controlChange (const juce::uint8* d, int n) override  { calls.push_back ({ "control", Bytes (d, d + n) }); }
        void handlePacket (const juce::uint8* d, int n) override   { calls.push_back ({ "packet", Bytes (d, d + n) }); }
        void systemReply (const juce::uint8* d, int n) override    { calls.push_back ({ "system", Bytes (d, d + n) }); }
        void sysExReply (const juce::uint8* d, int n) override     { calls.push_back ({ "update", Bytes (d, d + n) }); }

        /** Delivers a message from a buffer of exactly its size, so that reading past it shows. */
        void receive (const Bytes& message)
        {
            auto exact = std::make_unique<juce::uint8[]> (message.size());
            std::copy (message.begin(), message.end(), exact.get());
            transport->onReceive (exact.get(), (int) message.size());
        }

        std::unique_ptr<CPackTrans> transport { std::make_unique<CPackTrans>() };
        Calls calls;
    };

    const Bytes systemReply15 { 0xF0, 0x00, 0x99, 0x98, 0x97, 0x96, 0x95, 0x94, 0x11, 0x12, 0x00, 0x00, 0x00, 0x01, 0xF7 };
}

//==============================================================================
TEST_F (ReceiveSide, ClassifiesEachMessageByTheFirstTestThatMatches)
{
    auto systemReply16 = systemReply15;
    systemReply16.insert (systemReply16.end() - 1, 0x05);
    auto seventeen = systemReply16;
    seventeen.insert (seventeen.end() - 1, 0x00);
    auto otherAddress = systemReply15;
    otherAddress[12] = 0x01;
    // 15 bytes with 12 00 00 00 at bytes 9 to 12, but 7E 48 first: an update reply.
    const Bytes updateReply { 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0, 0, 0, 0, 0x12, 0x00, 0x00, 0x00, 0x01, 0xF7 };

    const std::vector<std::pair<Bytes, std::string>> cases
    {
        { { 0xB3, 0x07, 0x64 }, "control" }, { { 0xC1, 0x05 }, "program" }, { { 0x90, 0x3C, 0x40 }, "" },
        { { 0xF8 }, "" }, { { 0xF0, 0x7E }, "" }, { { 0xF0, 0x7E, 0x48, 0xF7 }, "update" }, { updateReply, "update" },
        { systemReply15, "system" }, { systemReply16, "system" }, { seventeen, "" }, { otherAddress, "" },
        { chunk (0, 0, {}), "packet" },
    };

    for (auto& [message, expected] : cases)
    {
        SCOPED_TRACE (juce::String::toHexString (message.data(), (int) message.size()).toStdString());
        calls.clear();
        receive (message);

        const Calls expectedCalls { { expected, expected == "packet" ? Bytes() : message } };
        EXPECT_EQ (calls, expected.empty() ? Calls() : expectedCalls);
    }

    // Cut short of the fields its tests would read: dropped without reading past the end.
    const auto emptyChunk = chunk (0, 0, {});

    for (long length = 1; length < 14; ++length)
        receive (Bytes (emptyChunk.begin(), emptyChunk.begin() + length));

    EXPECT_EQ (calls.size(), 1u);
}

TEST_F (ReceiveSide, ReassemblesInOrderChunksAndDropsTheRestAndWhatRunsPastTheBuffer)
{
    receive (chunk (400, 0, counting (183)));
    receive (chunk (400, 200, counting (100, 183)));         // wrong offset
    receive (chunk (401, 183, counting (183, 183)));         // right offset, other total
    receive (chunk (50, 10, counting (40)));                  // continues nothing
    receive (chunk (400, 183, counting (183, 183)));
    EXPECT_TRUE (calls.empty());

    auto last = chunk (400, 366, counting (34, 366));
    last.insert (last.end() - 1, 0x0E);                       // an odd nibble is ignored
    receive (last);
    ASSERT_EQ (calls.size(), 1u);
    EXPECT_EQ (calls[0], (std::pair<std::string, Bytes> { "packet", counting (400) }));

    // The longest packet; a last chunk that would end at 16,385 is dropped and its slot stays open.
    const int total = 16383, lastOffset = 89 * 183;

    for (int offset = 0; offset < lastOffset; offset += 183)
        receive (chunk (total, offset, counting (183, offset)));

    receive (chunk (total, lastOffset, counting (total - lastOffset + 2, lastOffset)));
    EXPECT_EQ (calls.size(), 1u);

    receive (chunk (total, lastOffset, counting (total - lastOffset, lastOffset)));
    ASSERT_EQ (calls.size(), 2u);
    EXPECT_EQ (calls[1].second, counting (total));
}

TEST_F (ReceiveSide, SlotOfAPacketThatNeverCompletesStaysOccupiedAroundTheRing)
{
    receive (chunk (10, 0, counting (4)));                  // slot 1, never completed

    for (int i = 0; i < 63; ++i)                             // other totals at offset 0: slots 2 to 63, then 0
        receive (chunk (3, 0, counting (3, 0, i)));

    ASSERT_EQ (calls.size(), 63u);
    EXPECT_EQ (calls[0].second, counting (3));

    // Every packet that would need slot 1 is dropped, and the stuck one, no longer current, cannot complete.
    receive (chunk (3, 0, counting (3, 0, 100)));
    receive (chunk (3, 0, counting (3, 0, 101)));
    receive (chunk (10, 4, counting (6, 4)));
    EXPECT_EQ (calls.size(), 63u);

    // What needs no new slot still arrives.
    receive (chunk (0, 0, {}));
    receive (systemReply15);
    EXPECT_EQ (calls.size(), 65u);
}
