#pragma once

#include "firmware/FirmwareHeader.h"

/** Builds firmware files for tests: by default a well-formed "MZ-70" file with no sections.
    Each section() appends a table entry and its payload; unused table slots get type 0xFF.
*/
class FirmwareFileBuilder
{
public:
    FirmwareFileBuilder()                                           { model ("MZ-70").version (1, 2, 3, 4); }

    FirmwareFileBuilder& headerByte (int offset, juce::uint8 value) { header[offset] = value; return *this; }
    FirmwareFileBuilder& model (const char* name);
    FirmwareFileBuilder& version (juce::uint8 a, juce::uint8 b, juce::uint8 c, juce::uint8 d)
    {
        return headerByte (28, a).headerByte (29, b).headerByte (30, c).headerByte (31, d);
    }

    /** An entry whose payload follows the previous ones. */
    FirmwareFileBuilder& section (int type, const juce::MemoryBlock& payload);

    /** An entry with explicit fields and no payload of its own. */
    FirmwareFileBuilder& rawEntry (int type, juce::uint32 offset, juce::uint32 length);

    /** 4 table slots for the exact name "MZ-9", else 5. */
    juce::MemoryBlock build() const;

    /** The file is deleted with the returned object. */
    std::unique_ptr<juce::TemporaryFile> writeTemporary() const;

    /** Seeded random bytes. */
    static juce::MemoryBlock pattern (size_t size, int seed = 1);

private:
    struct Entry { int type; juce::uint32 offset, length; juce::MemoryBlock payload; };

    juce::uint8 header[FirmwareHeader::headerSize] = { 'K', 'R', 'F', 'W' };
    std::vector<Entry> entries;
    juce::uint32 payloadBytes = 0;
};
