// The receive road: an arbitrary byte stream cut into MIDI messages the way JUCE cuts a
// live input stream, fed to the packet transport's classifier, with the reassembly, the
// record dispatcher, the hub and an update engine (an accepted file loaded, START sent)
// attached. The engine's answers come back through the hub to a sender that checks them.
//
// Input: one mode byte, then the stream.
//   bit 0 clear: the stream is MIDI bytes, cut by JUCE's MIDI data concatenator;
//   bit 0 set:   the stream is raw messages, each a length byte and that many bytes,
//                handed over as they are (any bytes, also ones no MIDI parser would make);
//   bit 1:       the engine's file and model: full-size when set;
//   bit 2:       the stream arrives in pieces of 1 to 16 bytes (lengths from the stream).
// Between messages the send pump runs now and then, with a queued record request, so a
// command to drop the pending output meets a queue that holds something.
//
// One road serves every input: it is reset and the update restarted before each, since
// building the transport's reassembly ring per input cost half the time. After each input
// one valid data packet must still be decoded, so a packet that is lost (a ring jammed by
// packets that never complete) fails the run like a crash.

#include "device/CPackTrans.h"
#include "device/ConstVar.h"
#include "device/PresetManager.h"
#include "device/ReceivedMsgHandle.h"
#include "firmware/FirmwareUpdate.h"
#include "fuzz/FuzzSupport.h"

#include <juce_audio_basics/midi/juce_MidiDataConcatenator.h>

namespace
{
    juce::MemoryBlock firmwares[2];   // [fullSize]

    /** Takes the transport's chunks; nothing is written anywhere. */
    class NullLink : public COMMIntf
    {
    public:
        int send (const juce::Array<juce::uint8>& frame, int length) override
        {
            fuzz::require (length >= 12 && length <= frame.size() && length <= 378, "a chunk of impossible length");
            return length;
        }
    };

    /** Counts what the dispatcher decodes, next to the hub, and keeps the last packet's records. */
    class DecodeCounter : public DataListener
    {
    public:
        void packetDecoded (int length, int, int, juce::Array<int> types, int) override
        {
            fuzz::require (length >= 0 && length < 16384, "a packet longer than a slot");
            fuzz::require (types.size() <= length / 4, "more records than a packet can hold");
            ++packets;
            lastLength = length;
            lastTypes = std::move (types);
        }

        int packets = 0;
        int lastLength = -1;
        juce::Array<int> lastTypes;
    };

    /** A packet of one record that no handler takes (type 0x7ABC, two payload bytes), as
        one data packet chunk: F0, signature, command, total, offset, nibbles, F7.
    */
    juce::MidiMessage makeProbePacket()
    {
        const juce::uint8 packet[] = { 0xBC, 0x7A, 0x02, 0x00, 0x5A, 0xA5 };
        juce::MemoryOutputStream chunk;
        chunk.writeByte ((char) 0xF0);
        chunk.write (WireFormat::sysExSignature, sizeof (WireFormat::sysExSignature));
        chunk.writeByte ((char) WireFormat::commandDataPacket);
        chunk.writeByte ((char) sizeof (packet));
        chunk.writeByte (0);
        chunk.writeByte (0);
        chunk.writeByte (0);

        for (auto byte : packet)
        {
            chunk.writeByte ((char) (byte >> 4));
            chunk.writeByte ((char) (byte & 0x0F));
        }

        chunk.writeByte ((char) 0xF7);
        return juce::MidiMessage (chunk.getData(), (int) chunk.getDataSize());
    }

    class Road
    {
    public:
        Road()
            : transport (&link, [] (int) {})
        {
            transport.getLink().addReceiver (&transport);
            transport.addReceiver (&dispatcher.getReceiver());
            dispatcher.addListener (&hub);
            dispatcher.addListener (&counter);
            hub.addSendListener (&sender);
            engine.senders.add (&hub);
            hub.addUpdateListener (engine.asUpdateListener());
            engine.setCommandTarget (&target);
        }

        /** Back to a fresh road: nothing queued or half received, the update just started. */
        void start (bool fullSize)
        {
            transport.reset();
            messages = 0;
            const auto& firmware = firmwares[fullSize ? 1 : 0];
            fuzz::require (engine.startUpdateFromData (static_cast<const juce::uint8*> (firmware.getData()),
                                                       firmware.getSize(), fullSize),
                           "an accepted file was refused");
            transport.enqueueMessage ({ 0x02, 0x20, 0x00, 0x00 });
        }

        /** Whatever the input left behind, the next valid packet arrives whole. */
        void checkAPacketStillArrives()
        {
            static const auto probe = makeProbePacket();
            const int before = counter.packets;
            receive (probe);
            fuzz::require (counter.packets == before + 1, "a valid data packet was not decoded");
            fuzz::require (counter.lastLength == 6 && counter.lastTypes == juce::Array<int> (0x7ABC),
                           "a valid data packet was decoded wrongly");
        }

        void receive (const juce::MidiMessage& message)
        {
            sender.expectedBlockSize = engine.getBlockSize();
            transport.getLink().getMessageListener().handleMidiMessage (message);

            if (++messages % 8 == 0)
                transport.sendPump();

            const int state = engine.getUpdatingState();
            fuzz::require (state >= 0 && state <= 8 && state != 6, "an unknown protocol state");
        }

        void receiveRaw (const juce::uint8* data, int length)
        {
            if (length > 0)
                receive (juce::MidiMessage (data, length));
            else
                transport.onReceive (data, length);
        }

        // MidiDataConcatenator's callback
        void handleIncomingMidiMessage (void*, const juce::MidiMessage& message)   { receive (message); }
        void handlePartialSysexMessage (void*, const juce::uint8*, int, double)     {}

    private:
        NullLink link;
        CPackTrans transport;
        ReceivedMsgHandle dispatcher;
        PresetManager hub;
        DecodeCounter counter;
        fuzz::CheckingSender sender;
        fuzz::CommandRecorder target;
        FirmwareUpdate engine;
        int messages = 0;
    };
}

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    fuzz::initialise();
    ConstVar::getInstance()->dataEnabled = true;

    const int sections[] = { 40, 3, 17, 64, 9 };

    for (bool fullSize : { false, true })
        firmwares[fullSize ? 1 : 0] = fuzz::makeFirmware (fullSize, sections);

    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size)
{
    fuzz::InputReader input (data, size);
    const auto mode = input.byte();

    // Never destroyed: see fuzz::initialise.
    static auto* const road = new Road();
    road->start ((mode & 2) != 0);

    if ((mode & 1) != 0)
    {
        while (! input.isExhausted())
        {
            size_t taken = 0;
            const auto* bytes = input.take (input.byte(), taken);
            road->receiveRaw (bytes, (int) taken);
        }
    }
    else
    {
        juce::MidiDataConcatenator concatenator (2048);
        const bool inPieces = (mode & 4) != 0;

        while (! input.isExhausted())
        {
            size_t taken = 0;
            const auto* bytes = input.take (inPieces ? 1 + (input.byte() & 15) : size, taken);
            concatenator.pushMidiData (bytes, (int) taken, 0.0, (void*) nullptr, *road);
        }
    }

    fuzz::drainMessages();
    road->checkAPacketStillArrives();
    fuzz::drainMessages();
    return 0;
}
