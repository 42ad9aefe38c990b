#pragma once

#include "firmware/FirmwareHeader.h"

/** The firmware file format: reading the header and section table, the model
    compatibility test, the bounds check of the payloads and the nibble split.
    Everything here is stateless.
*/
class FirmwareFile
{
public:
    /** Section ids in transfer order. */
    static constexpr int sectionIds[FirmwareHeader::maxSections] = { 0x00, 0x01, 0x02, 0x10, 0x11 };

    /** The largest payload whose nibble list an array can hold. */
    static constexpr juce::int64 maxSectionBytes = std::numeric_limits<int>::max() / 2;

    /** Index of a section id in transfer order, or -1 for any other value. */
    static int indexOfSection (int sectionId) noexcept;

    /** Prepares the record and reads the header and the 4 or 5 table entries from the stream.
        Fields beyond the end of the data read as zero.
    */
    static void readHeader (FirmwareHeader& header, juce::InputStream& stream);

    /** The same from a file; a file that cannot be opened leaves the prepared record. */
    static void readHeader (FirmwareHeader& header, const juce::File& file);

    /** Reads the whole file; false when it cannot be opened or a read fails. */
    static bool readWholeFile (const juce::File& file, juce::MemoryBlock& data);

    /** True when the magic is "KRFW" and the model name is exactly "MZ-70" (full-size model)
        or exactly "MZ-9" (the small model), zero-padded to 16 bytes.
    */
    static bool isCompatible (const FirmwareHeader& header, bool isFullSizeModel) noexcept;

    /** True when data of this size holds the header, the whole section table and the payload
        of every entry that names a section, and no such payload is too large to split.
    */
    static bool payloadsLieInside (const FirmwareHeader& header, juce::int64 fileSize) noexcept;

    /** High nibble then low nibble of each byte; an empty list for a length below 1. */
    static juce::Array<juce::uint8> splitNibbles (const juce::uint8* data, juce::int64 length);
};
