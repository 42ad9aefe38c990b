#include "tests/support/FirmwareFileBuilder.h"

FirmwareFileBuilder::FirmwareFileBuilder()
{
    magic ("KRFW").model ("MZ-70").version (1, 2, 3, 4);
}

FirmwareFileBuilder& FirmwareFileBuilder::model (const char* name)
{
    std::fill (header + 12, header + 28, 0);
    std::memcpy (header + 12, name, juce::jmin ((size_t) 16, std::strlen (name)));
    return *this;
}

FirmwareFileBuilder& FirmwareFileBuilder::magic (const char* fourCharacters)
{
    std::memcpy (header, fourCharacters, 4);
    return *this;
}

FirmwareFileBuilder& FirmwareFileBuilder::version (juce::uint8 a, juce::uint8 b, juce::uint8 c, juce::uint8 d)
{
    const juce::uint8 bytes[] = { a, b, c, d };
    std::memcpy (header + 28, bytes, 4);
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

juce::MemoryBlock FirmwareFileBuilder::build() const
{
    static constexpr juce::uint8 mini[16] = { 'M', 'Z', '-', '9' };
    const int slots = std::memcmp (header + 12, mini, 16) == 0 ? 4 : 5;

    juce::MemoryOutputStream out, payloads;
    out.write (header, sizeof (header));

    for (int i = 0; i < slots; ++i)
    {
        const bool used = i < (int) entries.size();
        const auto& e = used ? entries[(size_t) i] : Entry { 0xFF, 0, 0, {}, false };

        out.writeShort ((short) (0x1100 + i));   // fields nothing interprets: any value
        out.writeByte ((char) 0x5A);
        out.writeByte ((char) e.type);
        out.writeInt (0x7766);
        out.writeInt ((int) (e.placed ? payloads.getDataSize() : e.offset));
        out.writeInt ((int) e.length);
        payloads.write (e.payload.getData(), e.payload.getSize());
    }

    out << payloads.getMemoryBlock();
    return out.getMemoryBlock();
}

std::unique_ptr<juce::TemporaryFile> FirmwareFileBuilder::writeTemporary() const
{
    auto file = std::make_unique<juce::TemporaryFile> (".bin");
    const auto bytes = build();
    file->getFile().replaceWithData (bytes.getData(), bytes.getSize());
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
