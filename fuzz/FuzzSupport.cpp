#include "fuzz/FuzzSupport.h"

#include "device/MidiPorts.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace juce
{
    // The message loop's own single step (juce_events): runs one pending message, or
    // returns false at once when none is pending.
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

// Pauses return at once in the fuzz targets (linked with --wrap for this symbol).
extern "C" void __wrap__ZN4juce6Thread5sleepEi (int) {}

// JUCE's timer thread never starts in the fuzz targets (also wrapped): timers still register
// and keep their intervals, but nothing fires by itself, and a startTimer no longer wakes a
// thread for every input. The targets call the time-outs themselves. Other threads start.
extern "C" bool __real__ZN4juce6Thread11startThreadENS0_8PriorityE (juce::Thread*, juce::Thread::Priority);

extern "C" bool __wrap__ZN4juce6Thread11startThreadENS0_8PriorityE (juce::Thread* thread, juce::Thread::Priority priority)
{
    if (thread->getThreadName() == "JUCE Timer")
        return false;

    return __real__ZN4juce6Thread11startThreadENS0_8PriorityE (thread, priority);
}

// A command posted to the targets' recorder is recorded at once (also wrapped) instead of
// going through JUCE's message queue, which costs two system calls per message. The one
// thread of a target would deliver them in the same order.
extern "C" void __real__ZN4juce9Component18postCommandMessageEi (juce::Component*, int);

extern "C" void __wrap__ZN4juce9Component18postCommandMessageEi (juce::Component* component, int commandId)
{
    if (auto* recorder = dynamic_cast<fuzz::CommandRecorder*> (component))
        recorder->handleCommandMessage (commandId);
    else
        __real__ZN4juce9Component18postCommandMessageEi (component, commandId);
}

namespace
{
    /** No MIDI devices at all: a tick of the connection state machine finds nothing. */
    class NoMidiPorts final : public MidiPorts
    {
    public:
        juce::Array<juce::MidiDeviceInfo> getOutputDevices() override    { return {}; }
        juce::Array<juce::MidiDeviceInfo> getInputDevices() override     { return {}; }
        std::unique_ptr<MidiOutputPort> openOutput (int) override        { return {}; }
        std::unique_ptr<MidiInputPort> openInput (int, MidiPortCallback*) override { return {}; }
    };

    bool isNibbleRun (const juce::uint8* data, int length) noexcept
    {
        for (int i = 0; i < length; ++i)
            if (data[i] > 0x0F)
                return false;

        return true;
    }
}

namespace fuzz
{
    void initialise()
    {
        // Never shut down: at exit the framework's own statics may already be gone, and
        // libFuzzer ends the process from inside the run anyway.
        static auto* juce = new juce::ScopedJuceInitialiser_GUI();
        juce::ignoreUnused (juce);
        MidiPorts::install (std::make_unique<NoMidiPorts>());
    }

    void drainMessages()
    {
        while (juce::dispatchNextMessageOnSystemQueue (true))
        {
        }
    }

    void require (bool condition, const char* what)
    {
        if (! condition)
        {
            std::fprintf (stderr, "invariant broken: %s\n", what);
            std::abort();
        }
    }

    //==============================================================================
    const juce::uint8* InputReader::take (size_t count, size_t& taken) noexcept
    {
        const auto* start = data + position;
        taken = juce::jmin (count, size - juce::jmin (position, size));
        position += taken;
        return start;
    }

    //==============================================================================
    void CheckingSender::sendSysEx (const juce::uint8* data, int length)
    {
        require (data != nullptr && length >= 3, "an update message shorter than its prefix");
        require (data[0] == 0x7E && data[1] == 0x48, "an update message without 7E 48");

        ++numSent;
        lastCommand = data[2];

        switch (data[2])
        {
            case 0x01: require (length == 3, "START length"); break;
            case 0x0B: require (length == 8 && data[3] == 0x01, "version message"); break;
            case 0x7F: require (length == 4 && data[3] <= 0x11, "section select"); break;
            case 0x02: require (length == 19 && isNibbleRun (data + 3, 16), "section header"); break;
            case 0x05: require (length == 4 && data[3] == 0x7B, "section end"); break;
            case 0x07: require (length == 3, "end message"); break;
            case 0x09: require (length == 3, "metadata request"); break;

            case 0x04:
            {
                require (expectedBlockSize > 0, "a data block before any block size");
                require (length == 2 * expectedBlockSize + 6, "data block length");
                require (data[3] < 0x80, "data block index");
                require (isNibbleRun (data + 4, length - 4), "data block nibbles");

                juce::uint8 sum = 0;

                for (int i = 4; i < length - 2; ++i)
                    sum = (juce::uint8) (sum + data[i]);

                require (data[length - 2] == (sum >> 4) && data[length - 1] == (sum & 0x0F), "data block checksum");
                break;
            }

            default:
                require (false, "an unknown update command");
        }
    }

    //==============================================================================
    juce::MemoryBlock makeFirmware (bool fullSize, const int (&sectionBytes)[FirmwareHeader::maxSections],
                                    juce::uint8 seed)
    {
        static constexpr int ids[] = { 0x00, 0x01, 0x02, 0x10, 0x11 };

        const int entries = fullSize ? 5 : 4;
        juce::MemoryOutputStream out;
        out.write ("KRFW", 4);
        out.writeShort (0);
        out.writeShort (0);
        out.writeInt (0);

        char name[16] = {};
        std::memcpy (name, fullSize ? "MZ-70" : "MZ-9", fullSize ? 5 : 4);
        out.write (name, sizeof (name));

        const juce::uint8 version[4] = { 1, 2, 3, seed };
        out.write (version, sizeof (version));

        for (int i = 32; i < FirmwareHeader::headerSize; ++i)
            out.writeByte (0);

        juce::MemoryOutputStream payloads;
        int used = 0;

        for (int i = 0; i < FirmwareHeader::maxSections && used < entries; ++i)
        {
            if (sectionBytes[i] <= 0)
                continue;

            out.writeShort (0);
            out.writeByte (0);
            out.writeByte ((char) ids[i]);
            out.writeInt (0);
            out.writeInt ((int) payloads.getDataSize());
            out.writeInt (sectionBytes[i]);

            for (int b = 0; b < sectionBytes[i]; ++b)
                payloads.writeByte ((char) (b * 31 + i * 7 + seed));

            ++used;
        }

        for (; used < entries; ++used)
        {
            out.writeShort (0);
            out.writeByte (0);
            out.writeByte ((char) 0xFF);
            out.writeInt (0);
            out.writeInt (0);
            out.writeInt (0);
        }

        out << payloads.getMemoryBlock();
        return out.getMemoryBlock();
    }

    juce::File writeScratchFile (const juce::String& name, const juce::MemoryBlock& content)
    {
        // In memory where the system has such a folder: a disk file system makes each
        // rewrite wait for the disk.
        static const juce::File folder = []
        {
            const juce::File shm ("/dev/shm");
            const auto parent = shm.isDirectory() && shm.hasWriteAccess()
                                  ? shm : juce::File::getSpecialLocation (juce::File::tempDirectory);
            // Named after the process: workers started together would otherwise pick the same
            // free name and rewrite each other's files.
            auto f = parent.getNonexistentChildFile ("norvo-fuzz-" + juce::String ((int) ::getpid()), {}, false);
            require (f.createDirectory().wasOk(), "cannot create the scratch folder");
            return f;
        }();

        struct Cleanup
        {
            ~Cleanup()   { folder.deleteRecursively(); }
        };

        static Cleanup cleanup;

        // Plain stdio: JUCE's file streams sync to the disk on every flush.
        auto file = folder.getChildFile (name);
        auto* out = std::fopen (file.getFullPathName().toRawUTF8(), "wb");
        require (out != nullptr, "cannot open a scratch file");
        const auto written = content.isEmpty() ? 0 : std::fwrite (content.getData(), 1, content.getSize(), out);
        require (std::fclose (out) == 0 && written == content.getSize(), "cannot write a scratch file");
        return file;
    }
}
