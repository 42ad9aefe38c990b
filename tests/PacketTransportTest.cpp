#include "device/CPackTrans.h"
#include "device/ConstVar.h"
#include "device/ReceivedMsgHandle.h"
#include "device/Records.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/TrafficBytes.h"
#include "tests/support/TrafficSingletons.h"

#include <gtest/gtest.h>

#include <thread>

using namespace traffic;
using Log = std::vector<std::pair<std::string, Bytes>>;

namespace
{
    /** Hands the bytes over in a buffer of exactly their size, so that reading past them shows. */
    template <typename Receive>
    void handOver (const Bytes& bytes, Receive&& receive)
    {
        auto exact = std::make_unique<juce::uint8[]> (bytes.size());
        std::copy (bytes.begin(), bytes.end(), exact.get());
        receive (exact.get(), (int) bytes.size());
    }
}

/** A transport whose frames, pauses and results are logged in order. */
struct Transport : public ::testing::Test,
                   public COMMIntf,
                   public MIDIReciverListener
{
    Transport()     { transport.addReceiver (this); }

    int send (const juce::Array<juce::uint8>& f, int n) override        { add ("send", Bytes (f.begin(), f.begin() + n)); return n; }
    void sendProgress (int offset, int total) override                  { add ("progress " + std::to_string (offset) + "/" + std::to_string (total)); }
    void programChange (const juce::uint8* d, int n) override           { add ("program", Bytes (d, d + n)); }
    void controlChange (const juce::uint8* d, int n) override           { add ("control", Bytes (d, d + n)); }
    void handlePacket (const juce::uint8* d, int n) override            { add ("packet", Bytes (d, d + n)); }
    void systemReply (const juce::uint8* d, int n) override             { add ("system", Bytes (d, d + n)); }
    void sysExReply (const juce::uint8* d, int n) override              { add ("update", Bytes (d, d + n)); }
    void add (const std::string& what, const Bytes& bytes = {})         { log.push_back ({ what, bytes }); }

    void enqueue (const Bytes& m)       { transport.enqueueMessage (juce::Array<juce::uint8> (m.data(), (int) m.size())); }
    void pump (int ticks = 200)         { for (int i = 0; i < ticks; ++i) transport.sendPump(); }
    void receive (const Bytes& m)       { handOver (m, [this] (auto* d, int n) { transport.onReceive (d, n); }); }

    Log log;
    CPackTrans transport { this, [this] (int ms) { add ("sleep " + std::to_string (ms)); } };
};

/** A chunk as the link is given it: without F0 and F7. */
static Log::value_type sent (const Bytes& message, int offset, int count)
{
    const auto frame = chunk ((int) message.size(), offset, Bytes (message.begin() + offset, message.begin() + offset + count));
    return { "send", Bytes (frame.begin() + 1, frame.end() - 1) };
}

//==============================================================================
TEST_F (Transport, MessagesGoOutIn183ByteChunksWithTheirPausesUpTo16383Bytes)
{
    const auto progress = [] (int size) { return Log::value_type { "progress " + std::to_string (size) + "/" + std::to_string (size), {} }; };
    const Log::value_type pause { "sleep 5", {} }, lastPause { "sleep 1000", {} };
    const std::vector<std::pair<int, std::function<Log (const Bytes&)>>> cases
    {
        { 0,   [&] (auto& m) { return Log { sent (m, 0, 0), progress (0), pause }; } },
        { 183, [&] (auto& m) { return Log { sent (m, 0, 183), progress (183), pause }; } },
        { 184, [&] (auto& m) { return Log { sent (m, 0, 183), sent (m, 183, 1), progress (184), lastPause, pause }; } },
        { 366, [&] (auto& m) { return Log { sent (m, 0, 183), sent (m, 183, 183), progress (366), lastPause, pause }; } },
        { 600, [&] (auto& m) { return Log { sent (m, 0, 183), sent (m, 183, 183), pause, sent (m, 366, 183), pause,
                                            sent (m, 549, 51), progress (600), lastPause, pause }; } },
        { 16384, [] (auto&) { return Log {}; } },      // cannot be framed: refused
    };

    for (auto& [size, expected] : cases)
    {
        SCOPED_TRACE (size);
        log.clear();
        const auto message = counting (size);
        enqueue (message);
        pump();
        EXPECT_EQ (log, expected (message));
    }

    log.clear();
    enqueue (counting (16383));     // the longest: 90 chunks, the last one of 96 bytes
    pump (300);
    EXPECT_EQ (std::count_if (log.begin(), log.end(), [] (auto& e) { return e.first == "send"; }), 90);
    EXPECT_EQ (log[log.size() - 4], sent (counting (16383), 89 * 183, 96));
}

// The device's command 3 comes on the MIDI input thread and must wait for the message thread.
TEST_F (Transport, DeviceCommandThreeDropsTheQueuedMessagesWhileTheCurrentOneGoesOn)
{
    const auto current = counting (400);
    enqueue (current);
    enqueue ({ 9, 9 });
    pump (2);

    std::atomic<bool> dropped { false };
    std::thread input ([&] { receive (concat ({ signature, { 0x03, 0xF7 } })); dropped = true; });
    EXPECT_TRUE (pumpMessagesUntil ([&] { return dropped.load(); }));
    input.join();

    log.clear();
    pump();
    EXPECT_EQ (log, (Log { sent (current, 183, 183), { "sleep 5", {} }, sent (current, 366, 34), { "progress 400/400", {} },
                           { "sleep 1000", {} }, { "sleep 5", {} } }));
}

TEST_F (Transport, IncomingMessagesAreClassifiedWithoutReadingPastTheirEnd)
{
    const Bytes reply15 { 0xF0, 0, 0x99, 0x98, 0x97, 0x96, 0x95, 0x94, 0x11, 0x12, 0x00, 0x00, 0x00, 0x01, 0xF7 };
    auto reply16 = reply15, reply17 = reply15, otherAddress = reply15;
    reply16.insert (reply16.end() - 1, 5);
    reply17.insert (reply17.end() - 1, { 5, 0 });
    otherAddress[12] = 1;
    const Bytes updateReply { 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0, 0, 0, 0, 0x12, 0x00, 0x00, 0x00, 0x01, 0xF7 };   // also looks like a reply

    const std::vector<std::pair<Bytes, std::string>> cases
    {
        { { 0xB3, 0x07, 0x64 }, "control" }, { { 0xC1, 0x05 }, "program" }, { { 0x90, 0x3C, 0x40 }, "" }, { { 0xF8 }, "" },
        { { 0xF0, 0x7E }, "" }, { { 0xF0, 0x7E, 0x48, 0xF7 }, "update" }, { updateReply, "update" }, { reply15, "system" },
        { reply16, "system" }, { reply17, "" }, { otherAddress, "" }, { chunk (0, 0, {}), "packet" },
    };

    for (auto& [message, kind] : cases)
    {
        log.clear();
        receive (message);
        EXPECT_EQ (log, kind.empty() ? Log() : (Log { { kind, kind == "packet" ? Bytes() : message } })) << kind;
    }

    log.clear();

    for (long length = 1; length < 14; ++length)    // an empty chunk cut short
        receive (Bytes (cases.back().first.begin(), cases.back().first.begin() + length));

    EXPECT_TRUE (log.empty());
}

TEST_F (Transport, ChunksAreReassembledOnlyInOrderAndWithin16384Bytes)
{
    receive (chunk (400, 0, counting (183)));
    receive (chunk (400, 200, counting (100, 183)));        // wrong offset
    receive (chunk (401, 183, counting (183, 183)));        // right offset, other total
    receive (chunk (50, 10, counting (40)));                // continues nothing
    receive (chunk (400, 183, counting (183, 183)));
    auto last = chunk (400, 366, counting (34, 366));
    last.insert (last.end() - 1, 0x0E);                     // an odd nibble is ignored
    receive (last);
    EXPECT_EQ (log, (Log { { "packet", counting (400) } }));

    // A last chunk that would end past the buffer is dropped and the packet stays open.
    const int total = 16383, lastOffset = 89 * 183;

    for (int offset = 0; offset < lastOffset; offset += 183)
        receive (chunk (total, offset, counting (183, offset)));

    receive (chunk (total, lastOffset, counting (total - lastOffset + 2, lastOffset)));
    receive (chunk (total, lastOffset, counting (total - lastOffset, lastOffset)));
    EXPECT_EQ (log, (Log { { "packet", counting (400) }, { "packet", counting (total) } }));
}

TEST_F (Transport, APacketThatNeverCompletesHoldsItsSlotAroundTheRing)
{
    receive (chunk (10, 0, counting (4)));                  // slot 1, never completed

    for (int i = 0; i < 63; ++i)                            // slots 2 to 63, then 0
        receive (chunk (3, 0, counting (3, 0, i)));

    receive (chunk (3, 0, counting (3, 0, 100)));           // would need slot 1: dropped
    receive (chunk (10, 4, counting (6, 4)));               // the stuck one is no longer current
    receive (chunk (0, 0, {}));                             // needs no slot
    receive (concat ({ signature, { 0x11, 0x12, 0x00, 0x00, 0x00, 0x02, 0xF7 } }));
    ASSERT_EQ (log.size(), 65u);
    EXPECT_EQ (log[0].second, counting (3));
    EXPECT_EQ (log[63].first + log[64].first, "packetsystem");
}

//==============================================================================
/** The record dispatcher, with every record copy, device state and packet report logged. */
struct Dispatch : public ::testing::Test,
                  public DataListener
{
    Dispatch()              { dispatcher.addListener (this); }
    ~Dispatch() override    { deleteTrafficSingletons(); }     // record 0x2001 builds the device link

   #define NORVO_KEEP(hex) \
    void receivedRecord##hex (const void* r, int zero) override { EXPECT_EQ (zero, 0); keep (0x##hex, r, sizeof (Records::Record##hex)); }

    NORVO_KEEP (0000) NORVO_KEEP (0002) NORVO_KEEP (0005) NORVO_KEEP (0006) NORVO_KEEP (0007) NORVO_KEEP (0008) NORVO_KEEP (0009)
    NORVO_KEEP (000A) NORVO_KEEP (000B) NORVO_KEEP (000C) NORVO_KEEP (000D) NORVO_KEEP (000E) NORVO_KEEP (000F) NORVO_KEEP (0010)
    NORVO_KEEP (0013) NORVO_KEEP (0014) NORVO_KEEP (0015) NORVO_KEEP (0016) NORVO_KEEP (1000) NORVO_KEEP (1001) NORVO_KEEP (1002)
    NORVO_KEEP (1004) NORVO_KEEP (1005) NORVO_KEEP (1007) NORVO_KEEP (1008) NORVO_KEEP (1009) NORVO_KEEP (100B) NORVO_KEEP (100C)
    NORVO_KEEP (100D) NORVO_KEEP (100E) NORVO_KEEP (100F) NORVO_KEEP (1011) NORVO_KEEP (2003) NORVO_KEEP (2005) NORVO_KEEP (2006)
   #undef NORVO_KEEP

    void keep (int type, const void* r, size_t size)    { copies.push_back ({ type, Bytes ((const juce::uint8*) r, (const juce::uint8*) r + size) }); }
    void deviceState (int state) override               { states.push_back ({ state, ConstVar::getInstance()->deviceKind }); }

    void packetDecoded (int length, int value1, int value2, juce::Array<int> types, int) override
    {
        packets.push_back ({ length, value1, value2, std::vector<int> (types.begin(), types.end()) });
    }

    void dispatch (const Bytes& packet)     { handOver (packet, [this] (auto* d, int n) { dispatcher.getReceiver().handlePacket (d, n); }); }

    ReceivedMsgHandle dispatcher;
    std::vector<std::pair<int, Bytes>> copies;
    std::vector<std::pair<int, int>> states;                // each state with the device kind at that moment
    std::vector<std::tuple<int, int, int, std::vector<int>>> packets;
};

static Bytes record (int type, Bytes payload, int declaredLength = -1)
{
    const int length = declaredLength < 0 ? (int) payload.size() : declaredLength;
    payload.insert (payload.begin(), { (juce::uint8) type, (juce::uint8) (type >> 8), (juce::uint8) length, (juce::uint8) (length >> 8) });
    return payload;
}

TEST_F (Dispatch, EveryRecordTypeDeliversItsFixedLayoutCopyOrZerosWhileDataIsDisabled)
{
    // Type, payload size, payload bytes never copied (offset, count), whether the length is the one received.
    struct Layout { int type, payloadSize; std::vector<std::pair<int, int>> skipped; bool lengthAsReceived = false; };
    const std::vector<Layout> layouts
    {
        { 0x0000, 4, {} },             { 0x0002, 88, { { 15, 1 } } },   { 0x0005, 12, { { 2, 2 } } },   { 0x0006, 4, {} },
        { 0x0007, 20, { { 2, 2 } } },  { 0x0008, 16, { { 15, 1 } } },   { 0x0009, 20, { { 2, 2 } } },   { 0x000A, 20, { { 2, 2 } } },
        { 0x000B, 44, { { 2, 2 } } },  { 0x000C, 12, {} },              { 0x000D, 4, { { 3, 1 } } },    { 0x000E, 8, { { 2, 2 } } },
        { 0x000F, 8, { { 2, 2 }, { 6, 2 } } },                          { 0x0010, 4, {} },              { 0x0013, 4, { { 1, 3 } } },
        { 0x0014, 68, {} },            { 0x0015, 4, { { 2, 2 } } },     { 0x0016, 8, { { 1, 3 } } },    { 0x1000, 6, {} },
        { 0x1001, 4, {} },             { 0x1002, 8, { { 6, 2 } } },     { 0x1004, 124, {} },            { 0x1005, 8, { { 2, 2 } } },
        { 0x1007, 72, { { 56, 1 } } }, { 0x1008, 4, {} },               { 0x1009, 24, { { 2, 2 } } },   { 0x100B, 8, {}, true },
        { 0x100C, 20, { { 2, 2 } } },  { 0x100D, 20, { { 2, 2 } } },    { 0x100E, 40, { { 2, 2 } } },   { 0x100F, 4, {} },
        { 0x1011, 4, {}, true },       { 0x2003, 20, { { 2, 2 } } },    { 0x2005, 4, { { 2, 2 } } },    { 0x2006, 4, { { 3, 1 } } },
    };

    // Pass 1 puts 0xFFFF where 0x0002 maps it to 0 and where 0x000F keeps 11 bits of it.
    for (int pass : { 0, 1, 2 })
    {
        ConstVar::getInstance()->dataEnabled = pass < 2;

        for (auto& layout : layouts)
        {
            SCOPED_TRACE (juce::String::toHexString (layout.type).toStdString() + " pass " + std::to_string (pass));
            copies.clear();

            const int declared = layout.payloadSize + 3;    // three bytes more than the layout, all present
            auto payload = counting (declared);
            const int special = layout.type == 0x0002 ? 0 : (layout.type == 0x000F ? 4 : -1);

            if (pass == 1 && special >= 0)
                payload[(size_t) special] = payload[(size_t) special + 1] = 0xFF;

            dispatch (record (layout.type, payload, declared));

            auto expected = record (layout.type, Bytes (payload.begin(), payload.begin() + layout.payloadSize),
                                    layout.lengthAsReceived ? declared : layout.payloadSize);

            for (auto [offset, count] : layout.skipped)
                std::fill_n (expected.begin() + 4 + offset, count, 0);

            if (pass == 1 && layout.type == 0x0002)
                expected[4] = expected[5] = 0;

            if (layout.type == 0x000F)
                expected[4 + 5] &= 0x07;

            if (pass == 2)
                std::fill (expected.begin() + 4, expected.end(), 0);

            EXPECT_EQ (copies, (std::vector<std::pair<int, Bytes>> { { layout.type, expected } }));
        }
    }
}

// The packet report lists the types walked (the unregistered 0x1003 too) and the values of
// the last type-0 record, -1 and -2 without one.
TEST_F (Dispatch, RecordsAreTakenOnlyWhileHeaderPayloadAndLayoutLieInsideThePacket)
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
        EXPECT_EQ (packets, (decltype (packets) { { (int) cut, values.first, values.second, std::vector<int> (types.begin(), types.begin() + (long) whole) } }));
        EXPECT_EQ (copies.size(), whole - (whole >= 2 ? 1 : 0));
    }

    // A layout may read on into the next record, but not past the end of the packet.
    copies.clear();
    dispatch (concat ({ record (0x0006, {}), record (0x0010, { 1, 2, 3, 4 }), record (0x0006, {}) }));
    EXPECT_EQ (std::get<3> (packets.back()), (std::vector<int> { 0x0006, 0x0010 }));
    ASSERT_EQ (copies.size(), 2u);
    EXPECT_EQ (copies[0].second, (Bytes { 0x06, 0x00, 0x04, 0x00, 0x10, 0x00, 0x04, 0x00 }));
}

TEST_F (Dispatch, TheDeviceStateComesFromRecord2001OrTheSystemReplyWhichSetsTheKindWhenLong)
{
    auto& config = *ConstVar::getInstance();

    // Data enabled, payload (state, model): model 1 is unknown (kind 2), model 3 leaves the kind alone;
    // with data disabled the record reads as zeros.
    for (auto& [enabled, payload] : std::vector<std::pair<bool, Bytes>> { { true, { 3, 0, 1, 0 } }, { true, { 1, 0, 3, 0 } }, { false, { 1, 0, 3, 0 } } })
    {
        config.dataEnabled = enabled;
        config.deviceKind = 9;
        testing::internal::CaptureStdout();
        dispatch (concat ({ record (0x2001, payload), record (0x2002, {}) }));
        EXPECT_EQ (testing::internal::GetCapturedStdout(), "type:2001,len:4\ntype:2002,len:0\n");
    }

    // 15 bytes: the state; 16: the kind, then the state; another address or a short reply: nothing.
    const Bytes reply15 { 0xF0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x12, 0x00, 0x00, 0x00, 0x04, 0xF7 };
    const Bytes reply16 { 0xF0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x12, 0x00, 0x00, 0x00, 0x01, 0x07, 0xF7 };
    auto otherAddress = reply15;
    otherAddress[11] = 0x01;

    for (auto& [reply, length] : std::vector<std::pair<Bytes, int>> { { reply15, 15 }, { reply16, 16 }, { otherAddress, 15 }, { reply15, 12 } })
        handOver (Bytes (reply.begin(), reply.begin() + length), [this] (auto* d, int n) { dispatcher.getReceiver().systemReply (d, n); });

    EXPECT_EQ (states, (std::vector<std::pair<int, int>> { { 3, 2 }, { 1, 9 }, { 0, 2 }, { 4, 2 }, { 1, 7 } }));
    EXPECT_TRUE (copies.empty());
}
