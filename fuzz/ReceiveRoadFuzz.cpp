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

#include "device/CPackTrans.h"
#include "device/ConstVar.h"
#include "device/PresetManager.h"
#include "device/ReceivedMsgHandle.h"
#include "firmware/FirmwareUpdate.h"
#include "fuzz/FuzzSupport.h"

#include <juce_audio_basics/midi/juce_MidiDataConcatenator.h>

namespace
{
    juce::File files[2];   // [fullSize]

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

    /** Counts what the dispatcher decodes, next to the hub. */
    class DecodeCounter : public DataListener
    {
    public:
        void packetDecoded (int length, int, int, juce::Array<int> types, int) override
        {
            fuzz::require (length >= 0 && length < 16384, "a packet longer than a slot");
            fuzz::require (types.size() <= length / 4, "more records than a packet can hold");
            ++packets;
        }

        int packets = 0;
    };

    class Road
    {
    public:
        Road (bool fullSize)
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

            fuzz::require (engine.startUpdate (files[fullSize ? 1 : 0], fullSize), "an accepted file was refused");
            transport.enqueueMessage ({ 0x02, 0x20, 0x00, 0x00 });
        }

        ~Road()
        {
            hub.removeUpdateListener (engine.asUpdateListener());
            dispatcher.removeListener (&counter);
            dispatcher.removeListener (&hub);
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
        files[fullSize ? 1 : 0] = fuzz::writeScratchFile (fullSize ? "road-full.bin" : "road-mini.bin",
                                                          fuzz::makeFirmware (fullSize, sections));

    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size)
{
    fuzz::InputReader input (data, size);
    const auto mode = input.byte();

    {
        Road road ((mode & 2) != 0);

        if ((mode & 1) != 0)
        {
            while (! input.isExhausted())
            {
                size_t taken = 0;
                const auto* bytes = input.take (input.byte(), taken);
                road.receiveRaw (bytes, (int) taken);
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
                concatenator.pushMidiData (bytes, (int) taken, 0.0, (void*) nullptr, road);
            }
        }

        fuzz::drainMessages();
    }

    fuzz::drainMessages();
    return 0;
}
