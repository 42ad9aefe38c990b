#include "device/ConstVar.h"
#include "device/ReceivedMsgHandle.h"
#include "device/Records.h"
#include "tests/support/TrafficSingletons.h"

#include <gtest/gtest.h>

#include <map>

namespace
{
    using Bytes = std::vector<juce::uint8>;

    struct Delivery
    {
        int type;       // the operation that was called
        Bytes copy;
        int zero;
    };

    /** Keeps every record copy with the size of its layout, and every other call. */
    struct DataRecorder : public DataListener
    {
       #define NORVO_RECORD_OPERATION(hex) \
        void receivedRecord##hex (const void* r, int z) override { keep (0x##hex, r, sizeof (Records::Record##hex), z); }

        NORVO_RECORD_OPERATION (0000) NORVO_RECORD_OPERATION (0002) NORVO_RECORD_OPERATION (0005) NORVO_RECORD_OPERATION (0006)
        NORVO_RECORD_OPERATION (0007) NORVO_RECORD_OPERATION (0008) NORVO_RECORD_OPERATION (0009) NORVO_RECORD_OPERATION (000A)
        NORVO_RECORD_OPERATION (000B) NORVO_RECORD_OPERATION (000C) NORVO_RECORD_OPERATION (000D) NORVO_RECORD_OPERATION (000E)
        NORVO_RECORD_OPERATION (000F) NORVO_RECORD_OPERATION (0010) NORVO_RECORD_OPERATION (0013) NORVO_RECORD_OPERATION (0014)
        NORVO_RECORD_OPERATION (0015) NORVO_RECORD_OPERATION (0016) NORVO_RECORD_OPERATION (1000) NORVO_RECORD_OPERATION (1001)
        NORVO_RECORD_OPERATION (1002) NORVO_RECORD_OPERATION (1004) NORVO_RECORD_OPERATION (1005) NORVO_RECORD_OPERATION (1007)
        NORVO_RECORD_OPERATION (1008) NORVO_RECORD_OPERATION (1009) NORVO_RECORD_OPERATION (100B) NORVO_RECORD_OPERATION (100C)
        NORVO_RECORD_OPERATION (100D) NORVO_RECORD_OPERATION (100E) NORVO_RECORD_OPERATION (100F) NORVO_RECORD_OPERATION (1011)
        NORVO_RECORD_OPERATION (2003) NORVO_RECORD_OPERATION (2005) NORVO_RECORD_OPERATION (2006)

       #undef NORVO_RECORD_OPERATION

        void deviceState (int state) override   { states.push_back (state); }

        void sysExMessage (int length, const juce::uint8* data, int direction) override
        {
            sysEx.push_back ({ direction, Bytes (data, data + length) });
        }

        void sendProgress (int offset, int total) override  { progress.push_back ({ offset, total }); }

        void packetDecoded (int length, int value1, int value2, juce::Array<int> types, int zero) override
        {
            packets.push_back ({ length, value1, value2, std::vector<int> (types.begin(), types.end()), zero });
        }

        void keep (int type, const void* record, size_t size, int zero)
        {
            const auto* bytes = static_cast<const juce::uint8*> (record);
            deliveries.push_back ({ type, Bytes (bytes, bytes + size), zero });
        }

        struct Packet
        {
            int length, value1, value2;
            std::vector<int> types;
            int zero;
        };

        std::vector<Delivery> deliveries;
        std::vector<int> states;
        std::vector<std::pair<int, Bytes>> sysEx;
        std::vector<std::pair<int, int>> progress;
        std::vector<Packet> packets;
    };

    /** Sets ConstVar::dataEnabled for one test and puts the old value back. */
    struct ScopedDataEnabled
    {
        explicit ScopedDataEnabled (bool enabled) : previous (ConstVar::getInstance()->dataEnabled)
        {
            ConstVar::getInstance()->dataEnabled = enabled;
        }

        ~ScopedDataEnabled()    { ConstVar::getInstance()->dataEnabled = previous; }

        bool previous;
    };

    struct Dispatcher : public ::testing::Test
    {
        Dispatcher()                { dispatcher.addListener (&recorder); }

        // Record 0x2001 reaches the device manager, which starts the device link's tick.
        ~Dispatcher() override      { deleteTrafficSingletons(); }

        /** Hands a packet over in a buffer of exactly its size. */
        void dispatch (const Bytes& packet)
        {
            auto exact = std::make_unique<juce::uint8[]> (packet.size());
            std::copy (packet.begin(), packet.end(), exact.get());
            dispatcher.getReceiver().handlePacket (exact.get(), (int) packet.size());
        }

        void receiveSystemReply (const Bytes& reply)
        {
            dispatcher.getReceiver().systemReply (reply.data(), (int) reply.size());
        }

        ReceivedMsgHandle dispatcher;
        DataRecorder recorder;
    };

    Bytes record (int type, const Bytes& payload, int declaredLength = -1)
    {
        const int length = declaredLength < 0 ? (int) payload.size() : declaredLength;
        Bytes bytes { (juce::uint8) (type & 0xFF), (juce::uint8) (type >> 8),
                      (juce::uint8) (length & 0xFF), (juce::uint8) (length >> 8) };
        bytes.insert (bytes.end(), payload.begin(), payload.end());
        return bytes;
    }

    Bytes concat (std::initializer_list<Bytes> parts)
    {
        Bytes all;

        for (auto& part : parts)
            all.insert (all.end(), part.begin(), part.end());

        return all;
    }

    Bytes distinctPayload (int size)
    {
        Bytes bytes;

        for (int i = 0; i < size; ++i)
            bytes.push_back ((juce::uint8) (0x10 + i));

        return bytes;
    }

    //==============================================================================
    /** The record layouts: payload size and the payload bytes that are never copied. */
    struct Layout
    {
        int type;
        int payloadSize;
        std::vector<std::pair<int, int>> skipped;   // (payload offset, count)
        bool lengthAsReceived = false;
    };

    const std::vector<Layout> layouts
    {
        { 0x0000, 4,   {} },
        { 0x0002, 88,  { { 15, 1 } } },
        { 0x0005, 12,  { { 2, 2 } } },
        { 0x0006, 4,   {} },
        { 0x0007, 20,  { { 2, 2 } } },
        { 0x0008, 16,  { { 15, 1 } } },
        { 0x0009, 20,  { { 2, 2 } } },
        { 0x000A, 20,  { { 2, 2 } } },
        { 0x000B, 44,  { { 2, 2 } } },
        { 0x000C, 12,  {} },
        { 0x000D, 4,   { { 3, 1 } } },
        { 0x000E, 8,   { { 2, 2 } } },
        { 0x000F, 8,   { { 2, 2 }, { 6, 2 } } },
        { 0x0010, 4,   {} },
        { 0x0013, 4,   { { 1, 3 } } },
        { 0x0014, 68,  {} },
        { 0x0015, 4,   { { 2, 2 } } },
        { 0x0016, 8,   { { 1, 3 } } },
        { 0x1000, 6,   {} },
        { 0x1001, 4,   {} },
        { 0x1002, 8,   { { 6, 2 } } },
        { 0x1004, 124, {} },
        { 0x1005, 8,   { { 2, 2 } } },
        { 0x1007, 72,  { { 56, 1 } } },
        { 0x1008, 4,   {} },
        { 0x1009, 24,  { { 2, 2 } } },
        { 0x100B, 8,   {}, true },
        { 0x100C, 20,  { { 2, 2 } } },
        { 0x100D, 20,  { { 2, 2 } } },
        { 0x100E, 40,  { { 2, 2 } } },
        { 0x100F, 4,   {} },
        { 0x1011, 4,   {}, true },
        { 0x2003, 20,  { { 2, 2 } } },
        { 0x2005, 4,   { { 2, 2 } } },
        { 0x2006, 4,   { { 3, 1 } } },
    };

    /** The copy a record of this layout should give: header, then payload with skipped bytes zero. */
    Bytes expectedCopy (const Layout& layout, const Bytes& payload, int declaredLength)
    {
        const int lengthField = layout.lengthAsReceived ? declaredLength : layout.payloadSize;
        auto copy = record (layout.type, Bytes (payload.begin(), payload.begin() + layout.payloadSize), lengthField);

        for (auto [offset, count] : layout.skipped)
            std::fill_n (copy.begin() + 4 + offset, count, 0);

        if (layout.type == 0x000F)
            copy[4 + 5] &= 0x07;    // the u16 at payload offset 4 keeps its low 11 bits

        return copy;
    }
}

//==============================================================================
TEST_F (Dispatcher, EveryRecordTypeDeliversItsFixedLayoutCopy)
{
    ScopedDataEnabled enabled (true);

    for (auto& layout : layouts)
    {
        SCOPED_TRACE (juce::String::toHexString (layout.type).toStdString());
        recorder.deliveries.clear();

        // Declared three bytes longer than the layout, with the extra bytes present.
        const auto payload = distinctPayload (layout.payloadSize + 3);
        const int declared = layout.payloadSize + 3;
        dispatch (record (layout.type, payload, declared));

        ASSERT_EQ (recorder.deliveries.size(), 1u);
        const auto& delivery = recorder.deliveries[0];
        EXPECT_EQ (delivery.type, layout.type);
        EXPECT_EQ (delivery.zero, 0);
        EXPECT_EQ (delivery.copy, expectedCopy (layout, payload, declared));
    }
}

TEST_F (Dispatcher, WithDataDisabledEveryCopyCarriesZeroValues)
{
    ScopedDataEnabled disabled (false);

    for (auto& layout : layouts)
    {
        SCOPED_TRACE (juce::String::toHexString (layout.type).toStdString());
        recorder.deliveries.clear();

        const auto payload = distinctPayload (layout.payloadSize);
        dispatch (record (layout.type, payload));

        ASSERT_EQ (recorder.deliveries.size(), 1u);
        EXPECT_EQ (recorder.deliveries[0].copy, record (layout.type, Bytes ((size_t) layout.payloadSize, 0)));
    }
}

TEST_F (Dispatcher, LayoutFieldsLineUpWithTheWire)
{
    ScopedDataEnabled enabled (true);

    dispatch (concat ({ record (0x0002, distinctPayload (88)), record (0x1007, distinctPayload (72)),
                        record (0x0008, distinctPayload (16)), record (0x000C, distinctPayload (12)) }));
    ASSERT_EQ (recorder.deliveries.size(), 4u);

    Records::Record0002 r0002;
    std::memcpy (&r0002, recorder.deliveries[0].copy.data(), sizeof (r0002));
    EXPECT_EQ (r0002.field1, 0x1110);
    EXPECT_EQ (r0002.field2, 0x15141312u);
    EXPECT_EQ (r0002.field7, 0x1E);
    EXPECT_EQ (r0002.skipped1, 0);
    EXPECT_EQ (r0002.bytes[0], 0x20);
    EXPECT_EQ (r0002.field8, 0x6766656463626160ull);

    Records::Record1007 r1007;
    std::memcpy (&r1007, recorder.deliveries[1].copy.data(), sizeof (r1007));
    EXPECT_EQ (r1007.field9, 0x10 + 57);
    EXPECT_EQ (r1007.field12, 0x5756);

    Records::Record0008 r0008;
    std::memcpy (&r0008, recorder.deliveries[2].copy.data(), sizeof (r0008));
    EXPECT_EQ (r0008.field2, 0x1918171615141312ull);
    EXPECT_EQ (r0008.field4, 0x1E);

    juce::uint8 doubleBytes[8];
    Records::Record000C r000C;
    std::memcpy (&r000C, recorder.deliveries[3].copy.data(), sizeof (r000C));
    std::memcpy (doubleBytes, &r000C.field4, sizeof (doubleBytes));
    EXPECT_EQ (Bytes (doubleBytes, doubleBytes + 8), (Bytes { 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B }));
}

TEST_F (Dispatcher, NoneMarkerAndElevenBitMask)
{
    ScopedDataEnabled enabled (true);

    auto payload0002 = distinctPayload (88);
    payload0002[0] = payload0002[1] = 0xFF;
    auto payload000F = distinctPayload (8);
    payload000F[4] = payload000F[5] = 0xFF;
    dispatch (concat ({ record (0x0002, payload0002), record (0x000F, payload000F) }));

    ASSERT_EQ (recorder.deliveries.size(), 2u);
    Records::Record0002 r0002;
    std::memcpy (&r0002, recorder.deliveries[0].copy.data(), sizeof (r0002));
    EXPECT_EQ (r0002.field1, 0);
    EXPECT_EQ (r0002.field2, 0x15141312u);

    Records::Record000F r000F;
    std::memcpy (&r000F, recorder.deliveries[1].copy.data(), sizeof (r000F));
    EXPECT_EQ (r000F.field3, 0x07FF);
}

//==============================================================================
TEST_F (Dispatcher, PacketDecodedReportsTypesAndTheTypeZeroValues)
{
    ScopedDataEnabled enabled (true);

    dispatch (record (0x1003, { 1, 2, 3 }));
    dispatch (concat ({ record (0x0006, { 1, 2, 3, 4 }), record (0x0000, { 0x05, 0x00, 0x07, 0x00 }),
                        record (0x1003, {}), record (0x0000, { 0x09, 0x00, 0x0B, 0x00 }) }));

    ASSERT_EQ (recorder.packets.size(), 2u);
    EXPECT_EQ (recorder.packets[0].value1, -1);
    EXPECT_EQ (recorder.packets[0].value2, -2);
    EXPECT_EQ (recorder.packets[0].types, (std::vector<int> { 0x1003 }));
    EXPECT_EQ (recorder.packets[0].length, 7);

    // The unregistered 0x1003 is listed and skipped; the last type-0 record wins.
    EXPECT_EQ (recorder.packets[1].types, (std::vector<int> { 0x0006, 0x0000, 0x1003, 0x0000 }));
    EXPECT_EQ (recorder.packets[1].value1, 11);
    EXPECT_EQ (recorder.packets[1].value2, 9);
    EXPECT_EQ (recorder.packets[1].zero, 0);
    EXPECT_EQ (recorder.deliveries.size(), 3u);

    ScopedDataEnabled disabled (false);
    dispatch (record (0x0000, { 0x05, 0x00, 0x07, 0x00 }));
    EXPECT_EQ (recorder.packets.back().value1, 0);
    EXPECT_EQ (recorder.packets.back().value2, 0);
}

TEST_F (Dispatcher, DeviceInformationSetsTheModelThenReportsTheStateAndPrintsEachRecord)
{
    ScopedDataEnabled enabled (true);
    auto& deviceKind = ConstVar::getInstance()->deviceKind;

    deviceKind = 9;
    testing::internal::CaptureStdout();
    dispatch (concat ({ record (0x2001, { 0x03, 0x00, 0x01, 0x00 }), record (0x2002, {}) }));
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "type:2001,len:4\ntype:2002,len:0\n");

    EXPECT_EQ (deviceKind.load(), 2);      // model type 1 is unknown to the device manager
    EXPECT_EQ (recorder.states, (std::vector<int> { 3 }));
    EXPECT_TRUE (recorder.deliveries.empty());
    ASSERT_EQ (recorder.packets.size(), 1u);
    EXPECT_EQ (recorder.packets[0].types, (std::vector<int> { 0x2001, 0x2002 }));

    deviceKind = 9;
    dispatch (record (0x2001, { 0x01, 0x00, 0x03, 0x00 }));
    EXPECT_EQ (deviceKind.load(), 9);      // model type 3 leaves it alone
    EXPECT_EQ (recorder.states.back(), 1);

    ScopedDataEnabled disabled (false);
    dispatch (record (0x2001, { 0x01, 0x00, 0x03, 0x00 }));
    EXPECT_EQ (deviceKind.load(), 2);
    EXPECT_EQ (recorder.states.back(), 0);
    deviceKind = 2;
}

TEST_F (Dispatcher, RecordsAreTakenOnlyWhileTheyLieInsideThePacket)
{
    ScopedDataEnabled enabled (true);

    const std::vector<Bytes> records { record (0x0000, { 0x05, 0x00, 0x07, 0x00 }),
                                       record (0x1003, { 1, 2, 3 }),
                                       record (0x0006, { 1, 2, 3, 4 }),
                                       record (0x1004, distinctPayload (124)) };
    Bytes packet;
    std::vector<size_t> ends;

    for (auto& r : records)
    {
        packet.insert (packet.end(), r.begin(), r.end());
        ends.push_back (packet.size());
    }

    const std::vector<int> types { 0x0000, 0x1003, 0x0006, 0x1004 };

    for (size_t cut = 0; cut <= packet.size(); ++cut)
    {
        SCOPED_TRACE (cut);
        recorder.deliveries.clear();
        recorder.packets.clear();

        dispatch (Bytes (packet.begin(), packet.begin() + (long) cut));

        const auto whole = (size_t) std::count_if (ends.begin(), ends.end(), [cut] (size_t end) { return end <= cut; });
        ASSERT_EQ (recorder.packets.size(), 1u);
        EXPECT_EQ (recorder.packets[0].length, (int) cut);
        EXPECT_EQ (recorder.packets[0].types, std::vector<int> (types.begin(), types.begin() + (long) whole));
        EXPECT_EQ (recorder.packets[0].value1, whole >= 1 ? 7 : -1);

        std::vector<int> delivered;

        for (auto& d : recorder.deliveries)
            delivered.push_back (d.type);

        std::vector<int> expected;

        for (size_t i = 0; i < whole; ++i)
            if (types[i] != 0x1003)
                expected.push_back (types[i]);

        EXPECT_EQ (delivered, expected);
    }
}

TEST_F (Dispatcher, RecordShorterThanItsLayoutAtTheEndIsNotDispatched)
{
    ScopedDataEnabled enabled (true);

    // 0x0006 declares no payload, but its layout reads four bytes.
    dispatch (concat ({ record (0x0010, { 1, 2, 3, 4 }), record (0x0006, {}) }));
    // Inside the packet, a layout may read on into the next record, as on the device.
    dispatch (concat ({ record (0x0006, {}), record (0x0010, { 1, 2, 3, 4 }) }));

    ASSERT_EQ (recorder.packets.size(), 2u);
    EXPECT_EQ (recorder.packets[0].types, (std::vector<int> { 0x0010 }));
    EXPECT_EQ (recorder.packets[1].types, (std::vector<int> { 0x0006, 0x0010 }));
    ASSERT_EQ (recorder.deliveries.size(), 3u);
    EXPECT_EQ (recorder.deliveries[1].copy, (Bytes { 0x06, 0x00, 0x04, 0x00, 0x10, 0x00, 0x04, 0x00 }));
}

//==============================================================================
TEST_F (Dispatcher, SystemReplyGivesTheStateAndTheSixteenByteFormTheKind)
{
    auto& deviceKind = ConstVar::getInstance()->deviceKind;
    deviceKind = 2;

    const Bytes base { 0xF0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x12, 0x00, 0x00, 0x00 };
    receiveSystemReply (concat ({ base, { 0x04, 0xF7 } }));
    EXPECT_EQ (deviceKind.load(), 2);

    struct KindAtState : public DataListener
    {
        void deviceState (int) override     { kindSeen = ConstVar::getInstance()->deviceKind; }
        int kindSeen = -1;
    } kindAtState;

    dispatcher.addListener (&kindAtState);
    receiveSystemReply (concat ({ base, { 0x01, 0x07, 0xF7 } }));
    EXPECT_EQ (deviceKind.load(), 7);
    EXPECT_EQ (kindAtState.kindSeen, 7);

    auto otherAddress = concat ({ base, { 0x01, 0xF7 } });
    otherAddress[11] = 0x01;
    receiveSystemReply (otherAddress);
    receiveSystemReply ({ 0xF0, 0x7E, 0x48 });

    EXPECT_EQ (recorder.states, (std::vector<int> { 4, 1 }));
    dispatcher.removeListener (&kindAtState);
    deviceKind = 2;
}

TEST_F (Dispatcher, UpdateRepliesAndSendProgressPassThrough)
{
    const Bytes reply { 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0xF7 };
    dispatcher.getReceiver().sysExReply (reply.data(), (int) reply.size());
    dispatcher.getReceiver().sendProgress (4, 4);

    ASSERT_EQ (recorder.sysEx.size(), 1u);
    EXPECT_EQ (recorder.sysEx[0].first, 0);
    EXPECT_EQ (recorder.sysEx[0].second, reply);
    EXPECT_EQ (recorder.progress, (std::vector<std::pair<int, int>> { { 4, 4 } }));
}
