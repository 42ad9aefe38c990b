#pragma once

#include "tests/support/VirtualMidiDevice.h"

#include <optional>

/** Teaches a VirtualMidiDevice to answer the device-state request as a connected device in
    the given state: the device-information request gets one data packet chunk carrying
    record 0x2001, the software-state read a 15-byte system reply. Answers go back on the
    device's own input thread.
*/
class DeviceStateResponder
{
public:
    DeviceStateResponder (VirtualMidiDevice& device, int state);
    ~DeviceStateResponder();

    static bool isInformationRequest (const juce::MidiMessage& message);
    static bool isStateRead (const juce::MidiMessage& message);
    static juce::MidiMessage makeSystemReply (int state, std::optional<int> kind);

private:
    VirtualMidiDevice& device;

    JUCE_DECLARE_NON_COPYABLE (DeviceStateResponder)
};
