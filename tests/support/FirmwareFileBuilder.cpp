#include "tests/support/FirmwareFileBuilder.h"

FirmwareFileBuilder::FirmwareFileBuilder()
{
    magic ("KRFW");
    model ("MZ-70");
    version (1, 2, 3, 4);
}

FirmwareFileBuilder& FirmwareFileBuilder::model (const char* name)
{
    std::fill (header + 12, header + 28, 0);
    std::memcpy (header + 12, name, juce::jmin ((size_t) 16, std::strlen (name)));
    return *this;
}

FirmwareFileBuilder& FirmwareFileBuilder::modelNameByte (int index, juce::uint8 value)
{
    return headerByte (12 + index, value);
}

FirmwareFileBuilder& FirmwareFileBuilder::magic (const char* fourCharacters)
{
    std::memcpy (header, fourCharacters, 4);
    return *this;
}

FirmwareFileBuilder& FirmwareFileBuilder::version (juce::uint8 a, juce::uint8 b, juce::uint8 c, juce::uint8 d)
{
    header[28] = a;
    header[29] = b;
    header[30] = c;
    header[31] = d;
    return *this;
}

FirmwareFileBuilder& FirmwareFileBuilder::headerByte (int offset, juce::uint8 value)
{
    header[offset] = value;
    return *this;
}

FirmwareFileBuilder& FirmwareFileBuilder::section (int type, const juce::MemoryBlock& payload)
{
    entries.push_back ({ type, 0, (juce::uint32) payload.getSize(), payload, true });
    return *this;
}

FirmwareFileBuilder& FirmwareFileBuilder::rawEntry (int type, juce::uint32 offset, juce::uint32 length)
{
    entries.push_back ({ type, offset, length, {}, false });
    return *this;
}

FirmwareFileBuilder& FirmwareFileBuilder::entryCount (int count)
{
    forcedEntryCount = count;
    return *this;
}

juce::MemoryBlock FirmwareFileBuilder::build() const
{
    static constexpr juce::uint8 mini[16] = { 'M', 'Z', '-', '9' };
    const bool isMini = std::memcmp (header + 12, mini, 16) == 0;
    const int slots = forcedEntryCount >= 0 ? forcedEntryCount : (isMini ? 4 : 5);

    juce::MemoryOutputStream out;
    out.write (header, sizeof (header));

    juce::uint32 nextOffset = 0;
    juce::MemoryOutputStream payloads;

    for (int i = 0; i < slots; ++i)
    {
        int type = 0xFF;
        juce::uint32 offset = 0, length = 0;

        if (i < (int) entries.size())
        {
            const auto& e = entries[(size_t) i];
            type = e.type;
            offset = e.placed ? nextOffset : e.offset;
            length = e.length;

            if (e.placed)
            {
                payloads.write (e.payload.getData(), e.payload.getSize());
                nextOffset += (juce::uint32) e.payload.getSize();
            }
        }

        out.writeShort ((short) (0x1100 + i));   // fields nothing interprets: any value
        out.writeByte ((char) 0x5A);
        out.writeByte ((char) type);
        out.writeInt (0x7766);
        out.writeInt ((int) offset);
        out.writeInt ((int) length);
    }

    out.write (payloads.getData(), payloads.getDataSize());
    return out.getMemoryBlock();
}

std::unique_ptr<juce::TemporaryFile> FirmwareFileBuilder::writeTemporary() const
{
    auto file = std::make_unique<juce::TemporaryFile> (".bin");
    file->getFile().replaceWithData (build().getData(), build().getSize());
    return file;
}

juce::MemoryBlock FirmwareFileBuilder::pattern (size_t size, int seed)
{
    juce::MemoryBlock block (size);
    juce::Random random (seed);

    for (size_t i = 0; i < size; ++i)
        block[i] = (char) random.nextInt (256);

    return block;
}
