#pragma once

#include "tests/support/TrafficBytes.h"

#include <optional>

/** The device-state request's state read, as a device sees it, and the system reply
    with which it answers (state, then the device kind in the long form). */
struct DeviceStateResponder
{
    static bool isStateRead (const juce::MidiMessage& m)            { return traffic::bytesOf (m) == stateFrame ({ 0xF7 }); }

    static juce::MidiMessage makeSystemReply (int state, std::optional<int> kind)
    {
        return traffic::toMessage (kind ? stateFrame ({ (juce::uint8) state, (juce::uint8) *kind, 0xF7 }) : stateFrame ({ (juce::uint8) state, 0xF7 }));
    }

    static traffic::Bytes stateFrame (const traffic::Bytes& end)    { return traffic::concat ({ traffic::signature, { 0x11, 0x12, 0, 0, 0 }, end }); }
};
