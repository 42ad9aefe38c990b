#include "tests/support/FirmwareFileBuilder.h"

FirmwareFileBuilder& FirmwareFileBuilder::model (const char* name)
{
    for (size_t i = 0; i < 16; ++i)
        header[12 + i] = (juce::uint8) (i < std::strlen (name) ? name[i] : 0);

    return *this;
}

juce::MemoryBlock FirmwareFileBuilder::build() const
{
    static constexpr juce::uint8 mini[16] = { 'M', 'Z', '-', '9' };
    juce::MemoryOutputStream out, payloads;
    out.write (header, sizeof (header));

    for (size_t i = 0; i < (std::memcmp (header + 12, mini, 16) == 0 ? 4u : 5u); ++i)
    {
        const auto entry = i < entries.size() ? entries[i] : std::pair<int, juce::MemoryBlock> (0xFF, {});
        out.writeShort ((short) (0x1100 + i));   // the fields nothing interprets may hold anything
        out.writeByte (0x5A);
        out.writeByte ((char) entry.first);
        out.writeInt (0x7766);
        out.writeInt ((int) payloads.getDataSize());
        out.writeInt ((int) entry.second.getSize());
        payloads << entry.second;
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
