#include "device/ConstVar.h"
#include "device/ReceivedMsgHandle.h"
#include "device/Records.h"
#include "tests/support/TrafficBytes.h"
#include "tests/support/TrafficSingletons.h"

#include <gtest/gtest.h>

namespace
{
    using namespace traffic;

    struct Packet
    {
        int length, value1, value2;
        std::vector<int> types;
    };

    struct Dispatcher : public ::testing::Test,
                        public DataListener
    {
        Dispatcher()            { dispatcher.addListener (this); }

        // Record 0x2001 reaches the device manager, whose creation starts the device link's tick.
        ~Dispatcher() override  { deleteTrafficSingletons(); }

       #define NORVO_KEEP(hex) \
        void receivedRecord##hex (const void* r, int z) override { keep (0x##hex, r, sizeof (Records::Record##hex), z); }

        NORVO_KEEP (0000) NORVO_KEEP (0002) NORVO_KEEP (0005) NORVO_KEEP (0006) NORVO_KEEP (0007) NORVO_KEEP (0008)
        NORVO_KEEP (0009) NORVO_KEEP (000A) NORVO_KEEP (000B) NORVO_KEEP (000C) NORVO_KEEP (000D) NORVO_KEEP (000E)
        NORVO_KEEP (000F) NORVO_KEEP (0010) NORVO_KEEP (0013) NORVO_KEEP (0014) NORVO_KEEP (0015) NORVO_KEEP (0016)
        NORVO_KEEP (1000) NORVO_KEEP (1001) NORVO_KEEP (1002) NORVO_KEEP (1004) NORVO_KEEP (1005) NORVO_KEEP (1007)
        NORVO_KEEP (1008) NORVO_KEEP (1009) NORVO_KEEP (100B) NORVO_KEEP (100C) NORVO_KEEP (100D) NORVO_KEEP (100E)
        NORVO_KEEP (100F) NORVO_KEEP (1011) NORVO_KEEP (2003) NORVO_KEEP (2005) NORVO_KEEP (2006)
       #undef NORVO_KEEP

        void keep (int type, const void* record, size_t size, int zero)
        {
            EXPECT_EQ (zero, 0);
            const auto* bytes = static_cast<const juce::uint8*> (record);
            copies.push_back ({ type, Bytes (bytes, bytes + size) });
        }

        // Each state with the device kind it found.
        void deviceState (int state) override   { states.push_back ({ state, ConstVar::getInstance()->deviceKind }); }

        void packetDecoded (int length, int value1, int value2, juce::Array<int> types, int) override
        {
            packets.push_back ({ length, value1, value2, std::vector<int> (types.begin(), types.end()) });
        }

        /** Hands a packet over in a buffer of exactly its size. */
        void dispatch (const Bytes& packet)
        {
            auto exact = std::make_unique<juce::uint8[]> (packet.size());
            std::copy (packet.begin(), packet.end(), exact.get());
            dispatcher.getReceiver().handlePacket (exact.get(), (int) packet.size());
        }

        ReceivedMsgHandle dispatcher;
        std::vector<std::pair<int, Bytes>> copies;
        std::vector<std::pair<int, int>> states;
        std::vector<Packet> packets;
    };

    Bytes record (int type, Bytes payload, int declaredLength = -1)
    {
        const int length = declaredLength < 0 ? (int) payload.size() : declaredLength;
        payload.insert (payload.begin(), { (juce::uint8) type, (juce::uint8) (type >> 8), (juce::uint8) length, (juce::uint8) (length >> 8) });
        return payload;
    }

    /** Every record type: payload size and the payload bytes that are never copied. */
    struct Layout
    {
        int type, payloadSize;
        std::vector<std::pair<int, int>> skipped;   // (payload offset, count)
        bool lengthAsReceived = false;
    };

    const std::vector<Layout> layouts
    {
        { 0x0000, 4, {} },             { 0x0002, 88, { { 15, 1 } } },   { 0x0005, 12, { { 2, 2 } } },
        { 0x0006, 4, {} },             { 0x0007, 20, { { 2, 2 } } },    { 0x0008, 16, { { 15, 1 } } },
        { 0x0009, 20, { { 2, 2 } } },  { 0x000A, 20, { { 2, 2 } } },    { 0x000B, 44, { { 2, 2 } } },
        { 0x000C, 12, {} },            { 0x000D, 4, { { 3, 1 } } },     { 0x000E, 8, { { 2, 2 } } },
        { 0x000F, 8, { { 2, 2 }, { 6, 2 } } },                          { 0x0010, 4, {} },
        { 0x0013, 4, { { 1, 3 } } },   { 0x0014, 68, {} },              { 0x0015, 4, { { 2, 2 } } },
        { 0x0016, 8, { { 1, 3 } } },   { 0x1000, 6, {} },               { 0x1001, 4, {} },
        { 0x1002, 8, { { 6, 2 } } },   { 0x1004, 124, {} },             { 0x1005, 8, { { 2, 2 } } },
        { 0x1007, 72, { { 56, 1 } } }, { 0x1008, 4, {} },               { 0x1009, 24, { { 2, 2 } } },
        { 0x100B, 8, {}, true },       { 0x100C, 20, { { 2, 2 } } },    { 0x100D, 20, { { 2, 2 } } },
        { 0x100E, 40, { { 2, 2 } } },  { 0x100F, 4, {} },               { 0x1011, 4, {}, true },
        { 0x2003, 20, { { 2, 2 } } },  { 0x2005, 4, { { 2, 2 } } },     { 0x2006, 4, { { 3, 1 } } },
    };
}

//==============================================================================
TEST_F (Dispatcher, EveryRecordTypeDeliversItsFixedLayoutCopyOrZerosWhileDataIsDisabled)
{
    // Pass 1 puts 0xFFFF where 0x0002 maps it to 0 and where 0x000F keeps 11 bits of it.
    for (int pass : { 0, 1, 2 })
    {
        const bool enabled = pass < 2, special = pass == 1;
        ConstVar::getInstance()->dataEnabled = enabled;

        for (auto& layout : layouts)
        {
            SCOPED_TRACE (juce::String::toHexString (layout.type).toStdString() + " pass " + std::to_string (pass));
            copies.clear();

            // Declared three bytes longer than the layout, with the extra bytes present.
            const int declared = layout.payloadSize + 3;
            auto payload = counting (declared);
            const int specialOffset = layout.type == 0x0002 ? 0 : (layout.type == 0x000F ? 4 : -1);

            if (special && specialOffset >= 0)
                payload[(size_t) specialOffset] = payload[(size_t) specialOffset + 1] = 0xFF;

            dispatch (record (layout.type, payload, declared));

            auto expected = record (layout.type, Bytes (payload.begin(), payload.begin() + layout.payloadSize),
                                    layout.lengthAsReceived ? declared : layout.payloadSize);

            for (auto [offset, count] : layout.skipped)
                std::fill_n (expected.begin() + 4 + offset, count, 0);

            if (special && layout.type == 0x0002)
                expected[4] = expected[5] = 0;

            if (layout.type == 0x000F)
                expected[4 + 5] &= 0x07;

            if (! enabled)
                std::fill (expected.begin() + 4, expected.end(), 0);

            ASSERT_EQ (copies.size(), 1u);
            EXPECT_EQ (copies[0], std::make_pair (layout.type, expected));

            if (layout.type == 0x0000)      // the packet report reads its values from the copy
            {
                const auto u16 = [&] (int i) { return expected[(size_t) i] | expected[(size_t) i + 1] << 8; };
                EXPECT_EQ (std::make_pair (packets.back().value1, packets.back().value2), std::make_pair (u16 (6), u16 (4)));
            }
        }
    }
}

TEST_F (Dispatcher, DeviceInformationSetsTheModelThenReportsTheState)
{
    auto& config = *ConstVar::getInstance();
    const std::vector<std::tuple<bool, Bytes, std::pair<int, int>>> cases
    {
        // data enabled, payload (state, model), (state reported, device kind then)
        { true,  { 0x03, 0x00, 0x01, 0x00 }, { 3, 2 } },     // model 1: unknown to the device manager
        { true,  { 0x01, 0x00, 0x03, 0x00 }, { 1, 9 } },     // model 3 leaves the kind alone
        { false, { 0x01, 0x00, 0x03, 0x00 }, { 0, 2 } },     // passed on as zeros
    };

    for (auto& [enabled, payload, stateAndKind] : cases)
    {
        config.dataEnabled = enabled;
        config.deviceKind = 9;
        states.clear();

        testing::internal::CaptureStdout();
        dispatch (concat ({ record (0x2001, payload), record (0x2002, {}) }));
        EXPECT_EQ (testing::internal::GetCapturedStdout(), "type:2001,len:4\ntype:2002,len:0\n");
        EXPECT_EQ (states, (std::vector<std::pair<int, int>> { stateAndKind }));
    }

    EXPECT_TRUE (copies.empty());
}

// Also what the packet report says: the types walked (the unregistered 0x1003 is listed and
// skipped) and the values of the last type-0 record, -1 and -2 without one.
TEST_F (Dispatcher, RecordsAreTakenOnlyWhileTheyLieInsideThePacket)
{
    ConstVar::getInstance()->dataEnabled = true;
    const std::vector<int> types { 0x0000, 0x1003, 0x0006, 0x1004, 0x0000 };
    const auto packet = concat ({ record (0x0000, { 0x05, 0x00, 0x07, 0x00 }), record (0x1003, { 1, 2, 3 }), record (0x0006, { 1, 2, 3, 4 }),
                                  record (0x1004, counting (124)), record (0x0000, { 0x09, 0x00, 0x0B, 0x00 }) });
    const std::vector<size_t> ends { 8, 15, 23, 151, 159 };

    for (size_t cut = 0; cut <= packet.size(); ++cut)
    {
        SCOPED_TRACE (cut);
        copies.clear();
        packets.clear();
        dispatch (Bytes (packet.begin(), packet.begin() + (long) cut));

        const auto whole = (size_t) std::count_if (ends.begin(), ends.end(), [cut] (size_t end) { return end <= cut; });
        const auto values = whole == 5 ? std::make_pair (11, 9) : (whole > 0 ? std::make_pair (7, 5) : std::make_pair (-1, -2));
        ASSERT_EQ (packets.size(), 1u);
        EXPECT_EQ (packets[0].length, (int) cut);
        EXPECT_EQ (packets[0].types, std::vector<int> (types.begin(), types.begin() + (long) whole));
        EXPECT_EQ (std::make_pair (packets[0].value1, packets[0].value2), values);
        EXPECT_EQ (copies.size(), whole - (whole >= 2 ? 1 : 0));
    }

    // A layout may read on into the next record, but not past the end of the packet.
    copies.clear();
    dispatch (concat ({ record (0x0006, {}), record (0x0010, { 1, 2, 3, 4 }), record (0x0006, {}) }));
    EXPECT_EQ (packets.back().types, (std::vector<int> { 0x0006, 0x0010 }));
    ASSERT_EQ (copies.size(), 2u);
    EXPECT_EQ (copies[0].second, (Bytes { 0x06, 0x00, 0x04, 0x00, 0x10, 0x00, 0x04, 0x00 }));
}

TEST_F (Dispatcher, SystemReplyGivesTheStateAndTheSixteenByteFormTheKindFirst)
{
    ConstVar::getInstance()->deviceKind = 2;
    const Bytes reply15 { 0xF0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x12, 0x00, 0x00, 0x00, 0x04, 0xF7 };
    const Bytes reply16 { 0xF0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x12, 0x00, 0x00, 0x00, 0x01, 0x07, 0xF7 };
    auto otherAddress = reply15;
    otherAddress[11] = 0x01;

    for (auto& [reply, length] : std::vector<std::pair<Bytes, int>> { { reply15, 15 }, { reply16, 16 }, { otherAddress, 15 }, { reply15, 3 } })
        dispatcher.getReceiver().systemReply (reply.data(), length);

    EXPECT_EQ (states, (std::vector<std::pair<int, int>> { { 4, 2 }, { 1, 7 } }));
    ConstVar::getInstance()->deviceKind = 2;
}
