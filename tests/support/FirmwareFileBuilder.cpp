#include "tests/support/FirmwareFileBuilder.h"

FirmwareFileBuilder& FirmwareFileBuilder::model (const char* name)
{
    std::fill (header + 12, header + 28, 0);
    std::memcpy (header + 12, name, juce::jmin ((size_t) 16, std::strlen (name)));
    return *this;
}

FirmwareFileBuilder& FirmwareFileBuilder::section (int type, const juce::MemoryBlock& payload)
{
    entries.push_back ({ type, payloadBytes, (juce::uint32) payload.getSize(), payload });
    payloadBytes += (juce::uint32) payload.getSize();
    return *this;
}

FirmwareFileBuilder& FirmwareFileBuilder::rawEntry (int type, juce::uint32 offset, juce::uint32 length)
{
    entries.push_back ({ type, offset, length, {} });
    return *this;
}

juce::MemoryBlock FirmwareFileBuilder::build() const
{
    static constexpr juce::uint8 mini[16] = { 'M', 'Z', '-', '9' };
    juce::MemoryOutputStream out, payloads;
    out.write (header, sizeof (header));

    for (size_t i = 0; i < (std::memcmp (header + 12, mini, 16) == 0 ? 4u : 5u); ++i)
    {
        const auto e = i < entries.size() ? entries[i] : Entry { 0xFF, 0, 0, {} };
        out.writeShort ((short) (0x1100 + i));   // fields nothing interprets: any value
        out.writeByte ((char) 0x5A);
        out.writeByte ((char) e.type);
        out.writeInt (0x7766);
        out.writeInt ((int) e.offset);
        out.writeInt ((int) e.length);
        payloads << e.payload;
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
    std::generate ((char*) block.begin(), (char*) block.end(), [&random] { return (char) random.nextInt (256); });
    return block;
}
