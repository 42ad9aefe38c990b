// Arbitrary bytes as a firmware file: the header reader, the compatibility test for both
// models, the bounds check of the payloads and the split of every section into nibbles,
// then the engine's start of an update from the same file, for both models.

#include "firmware/FirmwareFile.h"
#include "firmware/FirmwareUpdate.h"
#include "fuzz/FuzzSupport.h"

#include <array>
#include <cstring>

namespace
{
    using fuzz::require;

    void checkHeader (const FirmwareHeader& header, juce::int64 size)
    {
        const bool full = FirmwareFile::isCompatible (header, true);
        const bool mini = FirmwareFile::isCompatible (header, false);

        require (! (full && mini), "a file fits both models");
        require (! full || header.getSectionCount() == 5, "a full-size file without five entries");
        require (! mini || header.getSectionCount() == 4, "a small-model file without four entries");
        require (header.getSectionCount() == 5 || header.sections[4].type == 0xFF,
                 "a four-entry file read a fifth entry");

        if ((full || mini) && size < 4)
            require (false, "a file shorter than its magic passed the test");
    }

    void checkSplit (const juce::uint8* payload, juce::int64 length)
    {
        const auto nibbles = FirmwareFile::splitNibbles (payload, length);

        require (nibbles.size() == (length < 1 ? 0 : (int) (length * 2)), "nibble count");

        for (int i = 0; i < nibbles.size(); i += 2)
        {
            require (nibbles[i] < 16 && nibbles[i + 1] < 16, "a nibble above 15");
            require (((nibbles[i] << 4) | nibbles[i + 1]) == payload[i / 2], "nibbles do not rebuild the byte");
        }
    }

    void splitSections (const FirmwareHeader& header, const juce::uint8* data, juce::int64 size)
    {
        if (! FirmwareFile::payloadsLieInside (header, size))
            return;

        const auto base = (juce::int64) header.getPayloadBase();

        for (int i = 0; i < header.getSectionCount(); ++i)
        {
            const auto& entry = header.sections[i];

            // An empty entry reads nothing, wherever it points.
            if (FirmwareFile::indexOfSection (entry.type) < 0 || entry.length == 0)
                continue;

            const auto start = base + (juce::int64) entry.offset;
            require (start + (juce::int64) entry.length <= size, "a payload accepted past the end");

            // Small payloads only: the split of a large one costs time, not coverage.
            checkSplit (data + start, juce::jmin ((juce::int64) entry.length, (juce::int64) 4096));
        }
    }

    /** The nibble count that the last entry naming each section gives it. */
    std::array<juce::int64, FirmwareHeader::maxSections> expectedNibbles (const FirmwareHeader& header)
    {
        std::array<juce::int64, FirmwareHeader::maxSections> counts {};

        for (int i = 0; i < header.getSectionCount(); ++i)
        {
            const auto index = FirmwareFile::indexOfSection (header.sections[i].type);

            if (index >= 0)
                counts[(size_t) index] = 2 * (juce::int64) header.sections[i].length;
        }

        return counts;
    }

    void startEngine (FirmwareUpdate& engine, const FirmwareHeader& header, const juce::File& file,
                      juce::int64 size, bool fullSize)
    {
        const bool acceptable = FirmwareFile::payloadsLieInside (header, size)
                                 && FirmwareFile::isCompatible (header, fullSize);

        require (engine.startUpdate (file, fullSize) == acceptable, "the engine judged the file otherwise");
        require (std::memcmp (engine.getHeader().modelName, header.modelName, 16) == 0, "the engine read another header");

        const auto counts = expectedNibbles (header);

        for (int i = 0; i < FirmwareHeader::maxSections; ++i)
            require (engine.getSectionNibbleCount (i) == (acceptable ? counts[(size_t) i] : 0),
                     "a section loaded with the wrong size");

        require (engine.getUpdatingState() == (acceptable ? 0 : FirmwareUpdate::idleState), "state after the start");
        engine.resetUpdate();
    }
}

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    fuzz::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size)
{
    juce::MemoryInputStream stream (data, size, false);
    FirmwareHeader header;
    FirmwareFile::readHeader (header, stream);

    checkHeader (header, (juce::int64) size);
    splitSections (header, data, (juce::int64) size);

    // The engine has no senders here: START goes nowhere, and nothing is posted.
    static FirmwareUpdate engine;
    const auto file = fuzz::writeScratchFile ("input.bin", juce::MemoryBlock (data, size));

    for (bool fullSize : { true, false })
        startEngine (engine, header, file, (juce::int64) size, fullSize);

    return 0;
}
