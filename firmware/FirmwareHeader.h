#pragma once

#include <juce_core/juce_core.h>

/** One 16-byte entry of a firmware file's section table. */
struct FirmwareSectionEntry
{
    juce::uint16 reserved0 = 0;
    juce::uint8 reserved2 = 0;
    juce::uint8 type = 0xFF;     // section id; 0xFF (no section) until the file supplies the entry
    juce::uint32 reserved4 = 0;
    juce::uint32 offset = 0;     // payload position, counted from the end of the section table
    juce::uint32 length = 0;     // payload length in bytes
};

/** The header of a firmware file (56 bytes) followed by its section table.

    A default-constructed header is the "prepared" record: everything zero except the
    entries' type, so that an entry the file does not supply matches no section.
*/
struct FirmwareHeader
{
    static constexpr int headerSize = 56;
    static constexpr int entrySize = 16;
    static constexpr int maxSections = 5;

    juce::uint32 magic = 0;
    juce::uint16 reserved4 = 0;
    juce::uint16 reserved6 = 0;
    juce::uint32 reserved8 = 0;
    juce::uint8 modelName[16] = {};
    juce::uint8 version[4] = {};
    juce::uint8 reserved32 = 0;
    juce::uint8 reserved33 = 0;
    juce::uint8 reserved39 = 0;
    juce::uint8 reserved34 = 0;
    juce::uint32 reserved35 = 0;
    juce::uint8 reserved40[16] = {};
    FirmwareSectionEntry sections[maxSections];

    /** True when the model name is exactly "MZ-9" padded with zero bytes: such a file has
        four section entries, every other file five.
    */
    bool isMiniModelName() const noexcept
    {
        static constexpr juce::uint8 mini[16] = { 'M', 'Z', '-', '9' };
        return std::memcmp (modelName, mini, sizeof (mini)) == 0;
    }

    int getSectionCount() const noexcept         { return isMiniModelName() ? 4 : 5; }

    /** File position where the section payloads begin (the end of the section table). */
    int getPayloadBase() const noexcept          { return headerSize + entrySize * getSectionCount(); }
};
