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

    juce::MemoryBlock bytes (std::initializer_list<int> values)
    {
        juce::MemoryBlock block;

        for (auto v : values)
            block.append (&v, 1);

        return block;
    }
}

TEST (FirmwareFileHeader, ReadsEveryFieldFromItsOffsetLittleEndian)
{
    FirmwareFileBuilder builder;

    for (int offset = 4; offset < 56; ++offset)
        if (offset < 12 || offset >= 28)
            builder.headerByte (offset, (juce::uint8) offset);

    builder.section (0x02, FirmwareFileBuilder::pattern (3))
           .section (0x10, FirmwareFileBuilder::pattern (7));

    const auto header = readFrom (builder.build());

    EXPECT_EQ (header.magic, 0x5746524Bu);   // "KRFW" read little-endian
    EXPECT_EQ (header.reserved4, 0x0504);
    EXPECT_EQ (header.reserved6, 0x0706);
    EXPECT_EQ (header.reserved8, 0x0B0A0908u);
    EXPECT_EQ (std::string ((const char*) header.modelName, 5), std::string ("MZ-70", 5));
    EXPECT_EQ (header.version[0], 28);
    EXPECT_EQ (header.version[3], 31);
    EXPECT_EQ (header.reserved32, 32);
    EXPECT_EQ (header.reserved33, 33);
    EXPECT_EQ (header.reserved34, 34);
    EXPECT_EQ (header.reserved35, 0x26252423u);   // unaligned u32 at 35
    EXPECT_EQ (header.reserved39, 39);
    EXPECT_EQ (header.reserved40[0], 40);
    EXPECT_EQ (header.reserved40[15], 55);

    EXPECT_EQ (header.sections[0].type, 0x02);
    EXPECT_EQ (header.sections[0].offset, 0u);
    EXPECT_EQ (header.sections[0].length, 3u);
    EXPECT_EQ (header.sections[0].reserved0, 0x1100);
    EXPECT_EQ (header.sections[1].type, 0x10);
    EXPECT_EQ (header.sections[1].offset, 3u);
    EXPECT_EQ (header.sections[1].length, 7u);
    EXPECT_EQ (header.sections[4].type, 0xFF);
    EXPECT_EQ (header.getPayloadBase(), 136);
}

TEST (FirmwareFileHeader, OnlyTheExactSmallModelNameHasFourEntries)
{
    // A fifth entry is present in the data in both cases; only five-entry files read it.
    const auto mini = readFrom (FirmwareFileBuilder().model ("MZ-9").entryCount (5)
                                    .rawEntry (0, 0, 0).rawEntry (1, 0, 0).rawEntry (2, 0, 0)
                                    .rawEntry (0x10, 0, 0).rawEntry (0x11, 0, 0).build());
    EXPECT_EQ (mini.getSectionCount(), 4);
    EXPECT_EQ (mini.getPayloadBase(), 120);
    EXPECT_EQ (mini.sections[3].type, 0x10);
    EXPECT_EQ (mini.sections[4].type, 0xFF);

    const auto padded = readFrom (FirmwareFileBuilder().model ("MZ-9").modelNameByte (15, 1)
                                      .rawEntry (0, 0, 0).rawEntry (1, 0, 0).rawEntry (2, 0, 0)
                                      .rawEntry (0x10, 0, 0).rawEntry (0x11, 0, 0).build());
    EXPECT_EQ (padded.getSectionCount(), 5);
    EXPECT_EQ (padded.sections[4].type, 0x11);
}

TEST (FirmwareFileHeader, DataMissingAtTheEndReadsAsZero)
{
    auto full = FirmwareFileBuilder().section (0x01, FirmwareFileBuilder::pattern (4)).build();

    // Cut inside the model name: the rest of the name, the version and all entries are zero.
    auto cut = readFrom (juce::MemoryBlock (full.getData(), 14));
    EXPECT_EQ (cut.modelName[0], 'M');
    EXPECT_EQ (cut.modelName[1], 'Z');
    EXPECT_EQ (cut.modelName[2], 0);
    EXPECT_EQ (cut.version[0], 0);

    for (const auto& entry : cut.sections)
    {
        EXPECT_EQ (entry.type, 0x00);
        EXPECT_EQ (entry.length, 0u);
    }

    // Cut inside the first entry's length field.
    cut = readFrom (juce::MemoryBlock (full.getData(), 56 + 14));
    EXPECT_EQ (cut.sections[0].type, 0x01);
    EXPECT_EQ (cut.sections[0].length, 0u);
    EXPECT_EQ (cut.sections[1].type, 0x00);

    EXPECT_FALSE (FirmwareFile::isCompatible (readFrom (bytes ({ 'K', 'R', 'F' })), true));
}

TEST (FirmwareFileHeader, FilesThatCannotBeOpenedLeaveThePreparedRecord)
{
    FirmwareHeader header;
    header.magic = 1;
    FirmwareFile::readHeader (header, juce::File::getSpecialLocation (juce::File::tempDirectory)
                                          .getNonexistentChildFile ("missing", ".bin"));
    EXPECT_EQ (header.magic, 0u);
    EXPECT_EQ (header.sections[0].type, 0xFF);

    juce::MemoryBlock data;
    EXPECT_FALSE (FirmwareFile::readWholeFile (juce::File::getSpecialLocation (juce::File::tempDirectory), data));

    const auto file = FirmwareFileBuilder().section (0x00, FirmwareFileBuilder::pattern (33)).writeTemporary();
    EXPECT_TRUE (FirmwareFile::readWholeFile (file->getFile(), data));
    EXPECT_EQ (data.getSize(), 136u + 33u);

    FirmwareFile::readHeader (header, file->getFile());
    EXPECT_EQ (header.sections[0].length, 33u);
}

TEST (FirmwareFileCompatibility, AcceptsOnlyTheExactNameOfTheConnectedModel)
{
    struct Case { const char* name; bool full; bool expected; };

    const Case cases[] = {
        { "MZ-70", true, true },   { "MZ-9", false, true },
        { "MZ-9", true, false },   { "MZ-70", false, false },
        { "MZ-7", true, false },   { "MZ-700", true, false },
        { "MZ-90", false, false }, { "mz-70", true, false },
        { "MX-70", true, false },  { "MZ_9", false, false },
        { "", true, false },       { "", false, false },
    };

    for (const auto& c : cases)
    {
        const auto header = readFrom (FirmwareFileBuilder().model (c.name).build());
        EXPECT_EQ (FirmwareFile::isCompatible (header, c.full), c.expected) << c.name << " full " << c.full;
    }
}

TEST (FirmwareFileCompatibility, RejectsPaddingMagicAndIgnoresUnusedFields)
{
    for (int index = 4; index < 16; ++index)
    {
        const auto header = readFrom (FirmwareFileBuilder().model ("MZ-9").modelNameByte (index, 0x20).build());
        EXPECT_FALSE (FirmwareFile::isCompatible (header, false)) << "byte " << index;
    }

    for (int index = 5; index < 16; ++index)
    {
        const auto header = readFrom (FirmwareFileBuilder().modelNameByte (index, 1).build());
        EXPECT_FALSE (FirmwareFile::isCompatible (header, true)) << "byte " << index;
    }

    for (auto* magic : { "WFRK", "RKFW", "KRFV", "krfw" })
        EXPECT_FALSE (FirmwareFile::isCompatible (readFrom (FirmwareFileBuilder().magic (magic).build()), true)) << magic;

    FirmwareFileBuilder noisy;

    for (int offset = 4; offset < 56; ++offset)
        if (offset < 12 || offset >= 28)
            noisy.headerByte (offset, 0xA5);

    EXPECT_TRUE (FirmwareFile::isCompatible (readFrom (noisy.build()), true));
}

TEST (FirmwareFileBounds, EveryNamedPayloadMustLieInsideTheFile)
{
    const auto file = FirmwareFileBuilder().section (0x00, FirmwareFileBuilder::pattern (10))
                                           .section (0x11, FirmwareFileBuilder::pattern (5));
    const auto data = file.build();
    const auto header = readFrom (data);
    const auto size = (juce::int64) data.getSize();

    EXPECT_TRUE (FirmwareFile::payloadsLieInside (header, size));
    EXPECT_FALSE (FirmwareFile::payloadsLieInside (header, size - 1));
    EXPECT_FALSE (FirmwareFile::payloadsLieInside (FirmwareHeader(), 135));
    EXPECT_TRUE (FirmwareFile::payloadsLieInside (readFrom (FirmwareFileBuilder().build()), 136));

    // Sums that would wrap in 32 bits, entries of other types, and empty payloads at the end.
    auto wrapping = readFrom (FirmwareFileBuilder().rawEntry (0x01, 0xFFFFFFF0u, 0x20).build());
    EXPECT_FALSE (FirmwareFile::payloadsLieInside (wrapping, 1000));

    auto huge = readFrom (FirmwareFileBuilder().rawEntry (0x02, 0, 0xFFFFFFFFu).build());
    EXPECT_FALSE (FirmwareFile::payloadsLieInside (huge, std::numeric_limits<juce::int64>::max() / 2));

    auto ignored = readFrom (FirmwareFileBuilder().rawEntry (0x03, 0xFFFFFFF0u, 0x20).build());
    EXPECT_TRUE (FirmwareFile::payloadsLieInside (ignored, 136));

    auto emptyAtEnd = readFrom (FirmwareFileBuilder().rawEntry (0x10, 0, 0).build());
    EXPECT_TRUE (FirmwareFile::payloadsLieInside (emptyAtEnd, 136));
}

TEST (FirmwareFileNibbles, SplitsHighNibbleFirst)
{
    const juce::uint8 data[] = { 0xA5, 0x0F, 0xF0, 0x00, 0xFF };
    const auto nibbles = FirmwareFile::splitNibbles (data, 5);
    const juce::Array<juce::uint8> expected { 0x0A, 0x05, 0x00, 0x0F, 0x0F, 0x00, 0x00, 0x00, 0x0F, 0x0F };
    EXPECT_EQ (nibbles, expected);

    EXPECT_TRUE (FirmwareFile::splitNibbles (data, 0).isEmpty());
    EXPECT_TRUE (FirmwareFile::splitNibbles (data, -3).isEmpty());
}
