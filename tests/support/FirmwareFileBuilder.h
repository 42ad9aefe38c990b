#pragma once

#include "firmware/FirmwareHeader.h"

/** Builds firmware files for tests: header, section table and payloads.

    By default the file is a well-formed "MZ-70" file with no sections. Each section()
    appends a table entry and its payload (payloads are laid out in entry order);
    unused table slots get type 0xFF so that they name no section.

        auto bytes = FirmwareFileBuilder().model ("MZ-9").section (0x00, payload).build();
*/
class FirmwareFileBuilder
{
public:
    FirmwareFileBuilder();

    FirmwareFileBuilder& model (const char* name);
    FirmwareFileBuilder& modelNameByte (int index, juce::uint8 value);
    FirmwareFileBuilder& magic (const char* fourCharacters);
    FirmwareFileBuilder& version (juce::uint8 a, juce::uint8 b, juce::uint8 c, juce::uint8 d);

    /** Overwrites one byte of the 56-byte header (for the fields nothing interprets). */
    FirmwareFileBuilder& headerByte (int offset, juce::uint8 value);

    /** Adds an entry of this type whose payload is placed after the previous ones. */
    FirmwareFileBuilder& section (int type, const juce::MemoryBlock& payload);

    /** Adds an entry with explicit fields and no payload of its own. */
    FirmwareFileBuilder& rawEntry (int type, juce::uint32 offset, juce::uint32 length);

    /** Number of table slots written: 4 for the name "MZ-9", else 5, unless set here. */
    FirmwareFileBuilder& entryCount (int count);

    juce::MemoryBlock build() const;

    /** Writes the file and returns it; the file is deleted with the returned object. */
    std::unique_ptr<juce::TemporaryFile> writeTemporary() const;

    /** Distinct, non-repeating bytes for payloads that must arrive byte for byte. */
    static juce::MemoryBlock pattern (size_t size, int seed = 1);

private:
    struct Entry
    {
        int type;
        juce::uint32 offset;
        juce::uint32 length;
        juce::MemoryBlock payload;
        bool placed;
    };

    juce::uint8 header[FirmwareHeader::headerSize] = {};
    std::vector<Entry> entries;
    int forcedEntryCount = -1;
};
