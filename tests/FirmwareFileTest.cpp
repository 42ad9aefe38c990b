#include "firmware/FirmwareFile.h"
#include "tests/support/FirmwareFileBuilder.h"

#include <gtest/gtest.h>

static FirmwareHeader readFrom (const FirmwareFileBuilder& builder, size_t cutTo = 1000)
{
    const auto bytes = builder.build();
    juce::MemoryInputStream stream (bytes.getData(), juce::jmin (cutTo, bytes.getSize()), false);
    FirmwareHeader header;
    header.sections[4].type = 0x01;   // the reader prepares the record itself
    FirmwareFile::readHeader (header, stream);
    return header;
}

TEST (FirmwareFile, TheReaderTakesTheUsedFieldsAndFourEntriesOnlyForTheExactSmallModelName)
{
    // Unused fields of odd widths and an unaligned u32: misreading one shifts the table.
    FirmwareFileBuilder full;

    for (int offset : { 4, 5, 6, 7, 8, 9, 10, 11, 32, 33, 34, 35, 36, 37, 38, 39, 40, 55 })
        full.headerByte (offset, 0xA5);

    const auto header = readFrom (full.section (0x02, FirmwareFileBuilder::pattern (3)).section (0x10, FirmwareFileBuilder::pattern (7)));
    EXPECT_TRUE (FirmwareFile::isCompatible (header, true));
    EXPECT_EQ (std::make_tuple (header.sections[1].type, header.sections[1].offset, header.sections[1].length), std::make_tuple (0x10, 3u, 7u));
    EXPECT_EQ (header.sections[4].type, 0xFF);

    auto mini = FirmwareFileBuilder().model ("MZ-9");

    for (int type : { 0x00, 0x01, 0x02, 0x10, 0x11 })
        mini.rawEntry (type, 0, 0);

    EXPECT_EQ (readFrom (mini).sections[4].type, 0xFF);
    EXPECT_EQ (readFrom (mini.headerByte (27, 1)).sections[4].type, 0x11);

    // Data missing at the end reads as zero.
    const auto cut = readFrom (full, 56 + 14);
    EXPECT_EQ (std::make_tuple (cut.sections[0].type, cut.sections[0].length, cut.sections[4].type), std::make_tuple (0x02, 0u, 0x00));
}

TEST (FirmwareFile, CompatibleOnlyWithTheExactNameOfTheConnectedModel)
{
    auto compatible = [] (const FirmwareFileBuilder& builder, bool full) { return FirmwareFile::isCompatible (readFrom (builder), full); };
    struct Case { const char* name; bool full, expected; };

    for (const auto c : { Case { "MZ-70", true, true }, { "MZ-9", false, true }, { "MZ-9", true, false }, { "MZ-70", false, false },
                          { "MZ-7", true, false }, { "MZ-700", true, false }, { "MZ-90", false, false }, { "mz-70", true, false } })
        EXPECT_EQ (compatible (FirmwareFileBuilder().model (c.name), c.full), c.expected) << c.name;

    for (int offset = 16; offset < 28; ++offset)   // any byte after the name, up to the last of the 16
        EXPECT_FALSE (compatible (FirmwareFileBuilder().model ("MZ-9").headerByte (offset, 0x20), false)
                      || compatible (FirmwareFileBuilder().headerByte (offset, 1), true)) << offset;

    for (auto* magic : { "WFRK", "RKFW", "KRFV" })
        EXPECT_FALSE (compatible (FirmwareFileBuilder().headerByte (0, (juce::uint8) magic[0]).headerByte (1, (juce::uint8) magic[1])
                                                       .headerByte (2, (juce::uint8) magic[2]).headerByte (3, (juce::uint8) magic[3]), true)) << magic;
}
