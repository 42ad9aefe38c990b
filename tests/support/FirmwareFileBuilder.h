#pragma once

#include "firmware/FirmwareHeader.h"

/** Builds firmware files for tests: by default a well-formed "MZ-70" file with no sections. */
class FirmwareFileBuilder
{
public:
    FirmwareFileBuilder()                                                       { model ("MZ-70").version (1, 2, 3, 4); }

    FirmwareFileBuilder& headerByte (int offset, juce::uint8 value)             { header[offset] = value; return *this; }
    FirmwareFileBuilder& version (juce::uint8 a, juce::uint8 b, juce::uint8 c, juce::uint8 d)   { return headerByte (28, a).headerByte (29, b).headerByte (30, c).headerByte (31, d); }
    FirmwareFileBuilder& model (const char* name);

    /** A table entry whose payload follows those of the entries before it. */
    FirmwareFileBuilder& section (int type, const juce::MemoryBlock& payload)   { entries.push_back ({ type, payload }); return *this; }

    /** 4 table slots for the exact name "MZ-9", else 5; unused slots have the type 0xFF. */
    juce::MemoryBlock build() const;

    /** Writes a file that is deleted with the returned object. */
    std::unique_ptr<juce::TemporaryFile> writeTemporary() const;

    /** Seeded random bytes. */
    static juce::MemoryBlock pattern (size_t size, int seed = 1);

private:
    juce::uint8 header[FirmwareHeader::headerSize] = { 'K', 'R', 'F', 'W' };
    std::vector<std::pair<int, juce::MemoryBlock>> entries;
};
