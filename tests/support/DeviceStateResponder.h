#pragma once

#include "tests/support/VirtualMidiDevice.h"

#include <optional>

/** Teaches a VirtualMidiDevice to answer the device-state request as a device in the given
    state: the information request gets record 0x2001 in one data packet chunk, the state read
    a 15-byte system reply, both sent back on the device's input thread.
*/
struct DeviceStateResponder
{
    DeviceStateResponder (VirtualMidiDevice& device, int state);
    ~DeviceStateResponder()     { device.setOnMessageWritten (nullptr); }

    static bool isInformationRequest (const juce::MidiMessage& message);
    static bool isStateRead (const juce::MidiMessage& message);
    static juce::MidiMessage makeSystemReply (int state, std::optional<int> kind);

    VirtualMidiDevice& device;
    JUCE_DECLARE_NON_COPYABLE (DeviceStateResponder)
};
