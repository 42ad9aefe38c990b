#include "firmware/FirmwareFile.h"
#include "tests/support/FirmwareFileBuilder.h"

#include <gtest/gtest.h>

namespace
{
    FirmwareHeader readFrom (const juce::MemoryBlock& bytes)
    {
        juce::MemoryInputStream stream (bytes, false);
        FirmwareHeader header;
        header.magic = 0xDEADBEEF;   // the reader must prepare the record itself
        header.sections[4].type = 0x01;
        FirmwareFile::readHeader (header, stream);
        return header;
    }

    FirmwareHeader readFrom (const FirmwareFileBuilder& builder)   { return readFrom (builder.build()); }

    FirmwareFileBuilder everyEntryType (const char* model)
    {
        FirmwareFileBuilder builder;
        builder.model (model);

        for (int type : { 0x00, 0x01, 0x02, 0x10, 0x11 })
            builder.rawEntry (type, 0, 0);

        return builder;
    }
}

TEST (FirmwareFileHeader, ReadsTheUsedFieldsWhateverTheUnusedOnesHold)
{
    // The unused fields have odd widths and an unaligned u32: misreading one shifts the table.
    FirmwareFileBuilder builder;

    for (int offset = 4; offset < 56; ++offset)
        if (offset < 12 || offset >= 32)
            builder.headerByte (offset, 0xA5);

    const auto header = readFrom (builder.section (0x02, FirmwareFileBuilder::pattern (3))
                                         .section (0x10, FirmwareFileBuilder::pattern (7)));

    EXPECT_EQ (header.magic, 0x5746524Bu);   // "KRFW" read little-endian
    EXPECT_EQ (juce::MemoryBlock (header.version, 4), juce::MemoryBlock ("\x01\x02\x03\x04", 4));
    EXPECT_EQ (header.sections[0].type, 0x02);
    EXPECT_EQ (header.sections[0].length, 3u);
    EXPECT_EQ (header.sections[1].type, 0x10);
    EXPECT_EQ (header.sections[1].offset, 3u);
    EXPECT_EQ (header.sections[1].length, 7u);
    EXPECT_EQ (header.sections[4].type, 0xFF);
    EXPECT_TRUE (FirmwareFile::isCompatible (header, true));
}

TEST (FirmwareFileHeader, OnlyTheExactSmallModelNameHasFourEntries)
{
    // Read as five entries, the last would come from past the end of the data as type 0.
    const auto mini = readFrom (everyEntryType ("MZ-9"));
    EXPECT_EQ (mini.getPayloadBase(), 120);
    EXPECT_EQ (mini.sections[3].type, 0x10);
    EXPECT_EQ (mini.sections[4].type, 0xFF);

    const auto padded = readFrom (everyEntryType ("MZ-9").headerByte (27, 1));
    EXPECT_EQ (padded.getSectionCount(), 5);
    EXPECT_EQ (padded.sections[4].type, 0x11);
}

TEST (FirmwareFileHeader, DataMissingAtTheEndReadsAsZero)
{
    const auto full = FirmwareFileBuilder().section (0x01, FirmwareFileBuilder::pattern (4)).build();

    const auto cutInName = readFrom (juce::MemoryBlock (full.getData(), 14));
    EXPECT_EQ (cutInName.modelName[1], 'Z');
    EXPECT_EQ (cutInName.modelName[2], 0);
    EXPECT_EQ (cutInName.version[0], 0);
    EXPECT_EQ (cutInName.sections[4].type, 0x00);

    const auto cutInEntry = readFrom (juce::MemoryBlock (full.getData(), 56 + 14));
    EXPECT_EQ (cutInEntry.sections[0].type, 0x01);
    EXPECT_EQ (cutInEntry.sections[0].length, 0u);

    EXPECT_FALSE (FirmwareFile::isCompatible (readFrom (juce::MemoryBlock ("KRF", 3)), true));
}

TEST (FirmwareFileCompatibility, AcceptsOnlyTheExactNameOfTheConnectedModel)
{
    struct Case { const char* name; bool full; bool expected; };

    const Case cases[] = {
        { "MZ-70", true, true },   { "MZ-9", false, true },
        { "MZ-9", true, false },   { "MZ-70", false, false },
        { "MZ-7", true, false },   { "MZ-700", true, false },
        { "MZ-90", false, false }, { "mz-70", true, false },
        { "MX-70", true, false },  { "", false, false },
    };

    for (const auto& c : cases)
        EXPECT_EQ (FirmwareFile::isCompatible (readFrom (FirmwareFileBuilder().model (c.name)), c.full), c.expected)
            << c.name << " full " << c.full;

    // Any byte after the name, up to the last of the 16, makes it another name.
    for (int index = 4; index < 16; ++index)
    {
        EXPECT_FALSE (FirmwareFile::isCompatible (readFrom (FirmwareFileBuilder().model ("MZ-9").headerByte (12 + index, 0x20)), false)) << index;
        EXPECT_FALSE (FirmwareFile::isCompatible (readFrom (FirmwareFileBuilder().headerByte (12 + index, 1)), true)) << index;
    }

    for (auto* magic : { "WFRK", "RKFW", "KRFV", "krfw" })
        EXPECT_FALSE (FirmwareFile::isCompatible (readFrom (FirmwareFileBuilder().magic (magic)), true)) << magic;
}

TEST (FirmwareFileBounds, EveryNamedPayloadMustLieInsideTheFile)
{
    const auto data = FirmwareFileBuilder().section (0x00, FirmwareFileBuilder::pattern (10))
                                           .section (0x11, FirmwareFileBuilder::pattern (5)).build();
    const auto header = readFrom (data);
    const auto size = (juce::int64) data.getSize();

    EXPECT_TRUE (FirmwareFile::payloadsLieInside (header, size));
    EXPECT_FALSE (FirmwareFile::payloadsLieInside (header, size - 1));
    EXPECT_FALSE (FirmwareFile::payloadsLieInside (FirmwareHeader(), 135));   // the table itself is cut

    // Sums that would wrap in 32 bits; entries of other types and empty payloads at the end are fine.
    EXPECT_FALSE (FirmwareFile::payloadsLieInside (readFrom (FirmwareFileBuilder().rawEntry (0x01, 0xFFFFFFF0u, 0x20)), 1000));
    EXPECT_FALSE (FirmwareFile::payloadsLieInside (readFrom (FirmwareFileBuilder().rawEntry (0x02, 0, 0xFFFFFFFFu)),
                                                   std::numeric_limits<juce::int64>::max() / 2));
    EXPECT_TRUE (FirmwareFile::payloadsLieInside (readFrom (FirmwareFileBuilder().rawEntry (0x03, 0xFFFFFFF0u, 0x20)), 136));
    EXPECT_TRUE (FirmwareFile::payloadsLieInside (readFrom (FirmwareFileBuilder().rawEntry (0x10, 0, 0)), 136));
}

TEST (FirmwareFileNibbles, SplitsHighNibbleFirst)
{
    const juce::uint8 data[] = { 0xA5, 0x0F, 0xF0 };
    EXPECT_EQ (FirmwareFile::splitNibbles (data, 3), (juce::Array<juce::uint8> { 0x0A, 0x05, 0x00, 0x0F, 0x0F, 0x00 }));
    EXPECT_TRUE (FirmwareFile::splitNibbles (data, 0).isEmpty());
    EXPECT_TRUE (FirmwareFile::splitNibbles (data, -3).isEmpty());
}
