// The update engine under arbitrary device replies and time-outs, with an accepted file
// loaded. Replies travel the hub's road to the engine; the engine's messages come back
// through the hub to a sender that checks each one.
//
// Input: one byte picks the model and the file's section layout, then a run of steps, each
// one control byte:
//   0x00-0x7F  a raw reply of that many bytes, taken from the input
//   0x80       the reply time-out expires        0x81  another timer id expires
//   0x82       an acceptance of the command in the next byte (F0 7E 48 c 7F F7)
//   0x83       a refusal of the command in the next byte (F0 7E 48 c 7E F7)
//   0x84       a START reply, block size from the next byte
//   0x85       the abort reply                   0x86  the end reply
//   0x87       the user starts the update again (the first 16 times in an input; later
//              ones are skipped: a start costs as much as dozens of replies, and the
//              fuzzer otherwise fills long inputs with them)
//   0x88-0xFF  an acceptance of the last command the engine sent
//
// One engine serves every input. After each input the engine must be in a defined state,
// and a fresh update of a valid file must still run to its end with a device that accepts
// everything: a fault that leaves the engine stuck fails the run like a crash.

#include "device/PresetManager.h"
#include "firmware/FirmwareUpdate.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <array>

namespace
{
    struct Layout
    {
        int sectionBytes[FirmwareHeader::maxSections];
    };

    // Mixed sizes, no sections, gaps between sections, one long section (block indexes
    // past 127 at small block sizes) and section 0x11 alone (its header goes out twice).
    constexpr Layout layouts[] = {
        { { 40, 3, 17, 64, 9 } },
        { { 0, 0, 0, 0, 0 } },
        { { 12, 0, 0, 30, 0 } },
        { { 0, 300, 0, 0, 0 } },
        { { 0, 0, 0, 0, 21 } },
        { { 1, 1, 1, 1, 1 } },
    };

    constexpr int numLayouts = (int) (sizeof (layouts) / sizeof (layouts[0]));

    // Started from memory: reading a file at every start cost a third of the time.
    std::vector<juce::MemoryBlock> firmwares;   // [layout * 2 + (fullSize ? 1 : 0)]
    // The check after each input updates one block of one section, the cheapest whole update.
    juce::MemoryBlock checkFirmwares[2];   // [fullSize]

    /** A reply built on the stack: no allocation per step. */
    struct Reply
    {
        std::array<juce::uint8, 39> bytes {};
        int length = 0;
    };

    Reply statusReply (int command, juce::uint8 status)
    {
        return { { 0xF0, 0x7E, 0x48, (juce::uint8) (command & 0x7F), status, 0xF7 }, 6 };
    }

    Reply startReply (juce::uint8 blockSize)
    {
        Reply reply { {}, 39 };
        reply.bytes[0] = 0xF0; reply.bytes[1] = 0x7E; reply.bytes[2] = 0x48; reply.bytes[3] = 0x01;
        reply.bytes[36] = (juce::uint8) (blockSize >> 4);
        reply.bytes[37] = (juce::uint8) (blockSize & 0x0F);
        reply.bytes[38] = 0xF7;
        return reply;
    }

    class Run
    {
    public:
        Run()
        {
            hub.addSendListener (&sender);
            engine.senders.add (&hub);
            hub.addUpdateListener (engine.asUpdateListener());
            engine.setCommandTarget (&target);
        }

        /** A new input: the model and file it uses, the update started. */
        void begin (bool fullSizeModel, const juce::MemoryBlock& firmwareToUse)
        {
            fullSize = fullSizeModel;
            firmware = &firmwareToUse;
            target.codes.clear();
            sentEnd = false;
            start();
        }

        void start()
        {
            engine.blocksDone = 0;
            fuzz::require (engine.startUpdateFromData (static_cast<const juce::uint8*> (firmware->getData()),
                                                       firmware->getSize(), fullSize),
                           "an accepted file was refused");
            fuzz::require (sender.getLastCommand() == 0x01, "no START after an accepted file");
            sawStartReply = false;
        }

        /** The state the input left is one the engine defines. */
        void checkDefinedState()
        {
            checkState();
            const int state = engine.getUpdatingState();

            if (state == FirmwareUpdate::idleState)
            {
                // Idle is what resetUpdate leaves: nothing loaded, nothing counted.
                fuzz::require (engine.getBlockSize() == 0 && engine.getCurrentSection() == 0
                                 && engine.getAckedInSection() == 0 && engine.getReplyRetries() == 0,
                               "an idle engine with protocol counters set");

                for (int i = 0; i < FirmwareHeader::maxSections; ++i)
                    fuzz::require (engine.getSectionNibbleCount (i) == 0, "an idle engine with a section loaded");
            }
            else if (state >= 1 && state <= 5)
            {
                fuzz::require (engine.getBlockSize() > 0, "a protocol step without a block size");
                fuzz::require (engine.getReplyTimeout() == FirmwareUpdate::replyTimeoutMs,
                               "a protocol step without its reply time-out");
            }
        }

        /** A fresh update of this valid file runs to its end when the device accepts
            everything; bounded, so that a stuck engine fails instead of looping.
        */
        void checkAFreshUpdateCompletes (const juce::MemoryBlock& validFirmware)
        {
            firmware = &validFirmware;
            target.codes.clear();
            start();
            deliver (startReply (16));

            for (int step = 0; step < 200 && engine.getUpdatingState() != 7; ++step)
                deliver (statusReply (lastCommand(), 0x7F));

            fuzz::drainMessages();
            fuzz::require (engine.getUpdatingState() == 7, "a fresh update did not reach its end");
            fuzz::require (std::find (target.codes.begin(), target.codes.end(), (int) updateFinished) != target.codes.end(),
                           "a fresh update was not reported finished");
            fuzz::require (engine.blocksDone.load() == (juce::uint32) engine.totalBlocks.load(),
                           "a fresh update finished with blocks left");
        }

        void deliver (const juce::uint8* data, int length)
        {
            const bool inStartState = engine.getUpdatingState() == 0;
            sender.expectedBlockSize = engine.getBlockSize();
            hub.sysExMessage (length, data, 0);

            if (inStartState && engine.getUpdatingState() == 1)
                sawStartReply = true;

            checkState();
        }

        void deliver (const Reply& reply)        { deliver (reply.bytes.data(), reply.length); }
        void expire (int timerId)                { engine.timerCallback (timerId); checkState(); }
        int lastCommand() const noexcept         { return sender.getLastCommand(); }
        bool hasSentEnd() const noexcept         { return sentEnd; }
        const std::vector<int>& codes() const    { return target.codes; }

    private:
        void checkState()
        {
            const int state = engine.getUpdatingState();
            fuzz::require (state >= 0 && state <= 8 && state != 6, "an unknown protocol state");

            if (sender.getLastCommand() == 0x07)
                sentEnd = true;

            if (state == 3)
            {
                const auto index = FirmwareFile::indexOfSection (engine.getCurrentSection());
                fuzz::require (index >= 0, "a block state outside every section");
                fuzz::require (engine.getAckedInSection() < engine.getBlockCount (index),
                               "a block number past its section");
            }

            if (sawStartReply)
            {
                const auto done = (juce::int64) engine.blocksDone.load();
                const auto total = (juce::int64) engine.totalBlocks.load();
                fuzz::require (done <= total, "more blocks done than the update has");
                fuzz::require (state != 7 || done == total, "finished before every block was acknowledged");
            }
        }

        bool fullSize = false;
        const juce::MemoryBlock* firmware = nullptr;
        PresetManager hub;
        fuzz::CheckingSender sender;
        fuzz::CommandRecorder target;
        FirmwareUpdate engine;
        bool sawStartReply = false;
        bool sentEnd = false;
    };
}

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    fuzz::initialise();

    for (int layout = 0; layout < numLayouts; ++layout)
        for (bool fullSize : { false, true })
            firmwares.push_back (fuzz::makeFirmware (fullSize, layouts[layout].sectionBytes, (juce::uint8) layout));

    for (bool fullSize : { false, true })
        checkFirmwares[fullSize ? 1 : 0] = fuzz::makeFirmware (fullSize, { 2, 0, 0, 0, 0 });

    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size)
{
    fuzz::InputReader input (data, size);
    const auto choice = input.byte();
    const bool fullSize = (choice & 1) != 0;

    // Never destroyed: see fuzz::initialise.
    static auto* const runner = new Run();
    auto& run = *runner;
    run.begin (fullSize, firmwares[(size_t) ((choice >> 1) % numLayouts) * 2 + (fullSize ? 1 : 0)]);

    int restarts = 0;

    for (int steps = 0; ! input.isExhausted() && steps < 4096; ++steps)
    {
        const auto control = input.byte();

        if (control < 0x80)
        {
            size_t taken = 0;
            const auto* bytes = input.take (control, taken);
            run.deliver (bytes, (int) taken);
            continue;
        }

        switch (control)
        {
            case 0x80: run.expire (FirmwareUpdate::replyTimerId); break;
            case 0x81: run.expire (1); break;
            case 0x82: run.deliver (statusReply (input.byte(), 0x7F)); break;
            case 0x83: run.deliver (statusReply (input.byte(), 0x7E)); break;
            case 0x84: run.deliver (startReply (input.byte())); break;
            case 0x85: run.deliver ({ { 0xF0, 0x7E, 0x48, 0x06, 0xF7 }, 5 }); break;
            case 0x86: run.deliver (statusReply (0x07, 0x7F)); break;
            case 0x87: if (++restarts <= 16) run.start(); break;
            default:   run.deliver (statusReply (run.lastCommand(), 0x7F)); break;
        }
    }

    fuzz::drainMessages();

    const auto& codes = run.codes();
    const bool finished = std::find (codes.begin(), codes.end(), (int) updateFinished) != codes.end();
    fuzz::require (! finished || run.hasSentEnd(), "finished without sending the end message");

    run.checkDefinedState();
    run.checkAFreshUpdateCompletes (checkFirmwares[fullSize ? 1 : 0]);
    return 0;
}
