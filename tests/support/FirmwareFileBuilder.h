#pragma once

#include "firmware/FirmwareHeader.h"

/** Builds firmware files for tests: by default a well-formed "MZ-70" file with no sections.
    Each section() appends a table entry and its payload; unused table slots get type 0xFF.

        auto bytes = FirmwareFileBuilder().model ("MZ-9").section (0x00, payload).build();
*/
class FirmwareFileBuilder
{
public:
    FirmwareFileBuilder();

    FirmwareFileBuilder& model (const char* name);
    FirmwareFileBuilder& magic (const char* fourCharacters);
    FirmwareFileBuilder& version (juce::uint8 a, juce::uint8 b, juce::uint8 c, juce::uint8 d);

    /** Overwrites one byte of the 56-byte header. */
    FirmwareFileBuilder& headerByte (int offset, juce::uint8 value);

    /** Adds an entry of this type whose payload is placed after the previous ones. */
    FirmwareFileBuilder& section (int type, const juce::MemoryBlock& payload);

    /** Adds an entry with explicit fields and no payload of its own. */
    FirmwareFileBuilder& rawEntry (int type, juce::uint32 offset, juce::uint32 length);

    /** The file: 4 table slots for the exact name "MZ-9", else 5. */
    juce::MemoryBlock build() const;

    /** Writes the file and returns it; the file is deleted with the returned object. */
    std::unique_ptr<juce::TemporaryFile> writeTemporary() const;

    /** Random bytes from a seed, for payloads that must arrive byte for byte. */
    static juce::MemoryBlock pattern (size_t size, int seed = 1);

private:
    struct Entry
    {
        int type;
        juce::uint32 offset, length;
        juce::MemoryBlock payload;
        bool placed;
    };

    juce::uint8 header[FirmwareHeader::headerSize] = {};
    std::vector<Entry> entries;
};
