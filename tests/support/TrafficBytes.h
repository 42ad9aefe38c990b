#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <vector>

/** Byte-level helpers for the device link's traffic. */
namespace traffic
{
    using Bytes = std::vector<juce::uint8>;

    /** F0 and the signature that opens the device's own SysEx frames. */
    inline const Bytes signature { 0xF0, 0x21, 0x25, 0x7E, 'M', 'Z', '-', 0x0A };

    inline Bytes bytesOf (const juce::MidiMessage& m)   { return { m.getRawData(), m.getRawData() + m.getRawDataSize() }; }
    inline juce::MidiMessage toMessage (const Bytes& b) { return juce::MidiMessage (b.data(), (int) b.size(), 0.0); }
    inline std::string hex (const Bytes& b)             { return juce::String::toHexString (b.data(), (int) b.size()).toStdString(); }

    inline Bytes concat (std::initializer_list<Bytes> parts)    { Bytes all; for (auto& p : parts) all.insert (all.end(), p.begin(), p.end()); return all; }

    /** Bytes [from, from + count) of a sequence that differs for each seed. */
    inline Bytes counting (int count, int from = 0, int seed = 0)   { Bytes b; for (int i = from; i < from + count; ++i) b.push_back ((juce::uint8) (i * 13 + seed)); return b; }

    /** One data packet chunk on the wire, F0 to F7: each payload byte goes as two nibbles. */
    inline Bytes chunk (int total, int offset, const Bytes& payload)
    {
        auto frame = concat ({ signature, { 0x11, (juce::uint8) (total & 0x7F), (juce::uint8) (total >> 7), (juce::uint8) (offset & 0x7F), (juce::uint8) (offset >> 7) } });

        for (auto byte : payload)
            frame.insert (frame.end(), { (juce::uint8) (byte >> 4), (juce::uint8) (byte & 0x0F) });

        frame.push_back (0xF7);
        return frame;
    }
}
