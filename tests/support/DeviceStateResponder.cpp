#include "tests/support/DeviceStateResponder.h"
#include "tests/support/TrafficBytes.h"

using namespace traffic;

DeviceStateResponder::DeviceStateResponder (VirtualMidiDevice& deviceToTeach, int state)
    : device (deviceToTeach)
{
    // Runs on the writing thread; record 0x2001 carries (state, model 0).
    device.setOnMessageWritten ([state, &target = device] (const juce::MidiMessage& written)
    {
        if (isInformationRequest (written))
        {
            const auto answer = chunk (8, 0, { 0x01, 0x20, 0x04, 0x00, (juce::uint8) state, (juce::uint8) (state >> 8), 0, 0 });
            target.sendToHost (juce::MidiMessage (answer.data(), (int) answer.size(), 0.0));
        }
        else if (isStateRead (written))
        {
            target.sendToHost (makeSystemReply (state, std::nullopt));
        }
    });
}

DeviceStateResponder::~DeviceStateResponder()
{
    device.setOnMessageWritten (nullptr);
}

bool DeviceStateResponder::isInformationRequest (const juce::MidiMessage& message)
{
    return bytesOf (message) == chunk (4, 0, { 0x01, 0x20, 0x00, 0x00 });     // an empty record 0x2001
}

bool DeviceStateResponder::isStateRead (const juce::MidiMessage& message)
{
    return bytesOf (message) == Bytes { 0xF0, 0x21, 0x25, 0x7E, 'M', 'Z', '-', 0x0A, 0x11, 0x12, 0x00, 0x00, 0x00, 0xF7 };
}

juce::MidiMessage DeviceStateResponder::makeSystemReply (int state, std::optional<int> kind)
{
    Bytes frame { 0xF0, 0x21, 0x25, 0x7E, 'M', 'Z', '-', 0x0A, 0x11, 0x12, 0x00, 0x00, 0x00, (juce::uint8) state };

    if (kind.has_value())
        frame.push_back ((juce::uint8) *kind);

    frame.push_back (0xF7);
    return juce::MidiMessage (frame.data(), (int) frame.size(), 0.0);
}
