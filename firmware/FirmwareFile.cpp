#include "firmware/FirmwareFile.h"

int FirmwareFile::indexOfSection (int sectionId) noexcept
{
    for (int i = 0; i < FirmwareHeader::maxSections; ++i)
        if (sectionIds[i] == sectionId)
            return i;

    return -1;
}

void FirmwareFile::readHeader (FirmwareHeader& header, juce::InputStream& stream)
{
    header = FirmwareHeader();

    header.magic = (juce::uint32) stream.readInt();
    header.reserved4 = (juce::uint16) stream.readShort();
    header.reserved6 = (juce::uint16) stream.readShort();
    header.reserved8 = (juce::uint32) stream.readInt();
    stream.read (header.modelName, sizeof (header.modelName));
    stream.read (header.version, sizeof (header.version));
    header.reserved32 = (juce::uint8) stream.readByte();
    header.reserved33 = (juce::uint8) stream.readByte();
    header.reserved34 = (juce::uint8) stream.readByte();
    header.reserved35 = (juce::uint32) stream.readInt();
    header.reserved39 = (juce::uint8) stream.readByte();
    stream.read (header.reserved40, sizeof (header.reserved40));

    for (int i = 0; i < header.getSectionCount(); ++i)
    {
        auto& entry = header.sections[i];
        entry.reserved0 = (juce::uint16) stream.readShort();
        entry.reserved2 = (juce::uint8) stream.readByte();
        entry.type = (juce::uint8) stream.readByte();
        entry.reserved4 = (juce::uint32) stream.readInt();
        entry.offset = (juce::uint32) stream.readInt();
        entry.length = (juce::uint32) stream.readInt();
    }
}

void FirmwareFile::readHeader (FirmwareHeader& header, const juce::File& file)
{
    header = FirmwareHeader();

    juce::FileInputStream stream (file);

    if (stream.openedOk())
        readHeader (header, stream);
}

bool FirmwareFile::readWholeFile (const juce::File& file, juce::MemoryBlock& data)
{
    data.reset();

    juce::FileInputStream stream (file);

    if (! stream.openedOk())
        return false;

    stream.readIntoMemoryBlock (data);
    return stream.getStatus().wasOk();
}

bool FirmwareFile::isCompatible (const FirmwareHeader& header, bool isFullSizeModel) noexcept
{
    const auto* name = header.modelName;

    if (header.magic != juce::ByteOrder::littleEndianInt ("KRFW"))
        return false;

    if (name[0] != 'M' || name[1] != 'Z' || name[2] != '-')
        return false;

    if (name[3] != (isFullSizeModel ? '7' : '9'))
        return false;

    if (name[4] != (isFullSizeModel ? '0' : 0))
        return false;

    for (int i = 5; i < 16; ++i)
        if (name[i] != 0)
            return false;

    return true;
}

bool FirmwareFile::payloadsLieInside (const FirmwareHeader& header, juce::int64 fileSize) noexcept
{
    const auto base = (juce::int64) header.getPayloadBase();

    if (fileSize < base)
        return false;

    for (int i = 0; i < header.getSectionCount(); ++i)
    {
        const auto& entry = header.sections[i];

        if (indexOfSection (entry.type) < 0)
            continue;

        if (entry.length > (juce::uint32) maxSectionBytes
             || base + (juce::int64) entry.offset + (juce::int64) entry.length > fileSize)
            return false;
    }

    return true;
}

juce::Array<juce::uint8> FirmwareFile::splitNibbles (const juce::uint8* data, juce::int64 length)
{
    juce::Array<juce::uint8> nibbles;

    if (length < 1 || data == nullptr)
        return nibbles;

    nibbles.resize ((int) (length * 2));
    auto* out = nibbles.getRawDataPointer();

    for (juce::int64 i = 0; i < length; ++i)
    {
        *out++ = (juce::uint8) (data[i] >> 4);
        *out++ = (juce::uint8) (data[i] & 0x0F);
    }

    return nibbles;
}
