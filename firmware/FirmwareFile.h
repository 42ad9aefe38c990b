#pragma once

#include "firmware/FirmwareHeader.h"

#include <vector>

/** The firmware file format: reading the header and section table, the model
    compatibility test, the bounds check of the payloads and the nibble split.
    Everything here is stateless.
*/
class FirmwareFile
{
public:
    /** Section ids in transfer order. */
    static constexpr int sectionIds[FirmwareHeader::maxSections] = { 0x00, 0x01, 0x02, 0x10, 0x11 };

    /** The largest firmware file, and the most section bytes one update holds. Generous for an
        effects unit, and small enough that no size or count derived from a file can overflow.
    */
    static constexpr juce::int64 maxFileBytes = 64 * 1024 * 1024;

    /** Index of a section id in transfer order, or -1 for any other value. */
    static int indexOfSection (int sectionId) noexcept;

    /** Prepares the record and reads the header and the 4 or 5 table entries from the stream.
        Fields beyond the end of the data read as zero.
    */
    static void readHeader (FirmwareHeader& header, juce::InputStream& stream);

    /** The same from a file; anything but a readable regular file leaves the prepared record. */
    static void readHeader (FirmwareHeader& header, const juce::File& file);

    /** The first `count` bytes of a regular file, fewer when it is shorter. False, with no data,
        for anything that is not a regular file (a symlink counts as what it points to), cannot
        be read, is held open for writing or mapped shared and writable by any process (where
        the kernel grants a read lease, which then holds back any writer until the read ends),
        or changed while it was read (its size, modification or change time, device or inode as
        the open file shows them before and after, or bytes that read differently a second
        time). Never blocks on a FIFO or a device.
    */
    static bool readFileStart (const juce::File& file, size_t count, std::vector<juce::uint8>& data);

    /** What an update reads of a regular file of at most maxFileBytes: from its start to the
        end of the last payload its table names, or the whole file when that is shorter, so a
        large file with small sections costs little memory. False, with no data, for anything
        readFileStart refuses (a file that changes while it is read included: its header and
        its payloads are read in separate steps), for a larger file (checked before and during
        the read, so a file that grows cannot get past the limit) and when memory runs out.
    */
    static bool readForUpdate (const juce::File& file, std::vector<juce::uint8>& data);

    /** True when the magic is "KRFW" and the model name is exactly "MZ-70" (full-size model)
        or exactly "MZ-9" (the small model), zero-padded to 16 bytes.
    */
    static bool isCompatible (const FirmwareHeader& header, bool isFullSizeModel) noexcept;

    /** True when data of this size, at most maxFileBytes, holds the header, the whole section
        table and the payload of every non-empty entry that names a section, and the sections
        an update keeps (the last entry of each) hold at most maxFileBytes together. An entry of
        length 0 reads nothing, so its offset is not checked.
    */
    static bool payloadsLieInside (const FirmwareHeader& header, juce::int64 fileSize) noexcept;

    /** High nibble then low nibble of each byte. An empty list for a length below 1 or above
        maxFileBytes, and when the memory for the list cannot be had.
    */
    static juce::Array<juce::uint8> splitNibbles (const juce::uint8* data, juce::int64 length);

private:
    /** How far into the file the payloads of the header and table at its start reach. */
    static juce::int64 payloadEnd (const std::vector<juce::uint8>& start);
};
