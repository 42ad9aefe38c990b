#include "tests/support/DeviceStateResponder.h"
#include "tests/support/TrafficBytes.h"

using namespace traffic;

DeviceStateResponder::DeviceStateResponder (VirtualMidiDevice& d, int state) : device (d)
{
    device.setOnMessageWritten ([state, &d] (const juce::MidiMessage& written)
    {
        if (isInformationRequest (written))
            d.sendToHost (toMessage (chunk (8, 0, { 0x01, 0x20, 0x04, 0x00, (juce::uint8) state, (juce::uint8) (state >> 8), 0, 0 })));
        else if (isStateRead (written))
            d.sendToHost (makeSystemReply (state, std::nullopt));
    });
}

bool DeviceStateResponder::isInformationRequest (const juce::MidiMessage& m)
{
    return bytesOf (m) == chunk (4, 0, { 0x01, 0x20, 0x00, 0x00 });     // an empty record 0x2001
}

bool DeviceStateResponder::isStateRead (const juce::MidiMessage& m)
{
    return bytesOf (m) == concat ({ signature, { 0x11, 0x12, 0x00, 0x00, 0x00, 0xF7 } });
}

juce::MidiMessage DeviceStateResponder::makeSystemReply (int state, std::optional<int> kind)
{
    auto frame = concat ({ signature, { 0x11, 0x12, 0x00, 0x00, 0x00, (juce::uint8) state } });

    if (kind.has_value())
        frame.push_back ((juce::uint8) *kind);

    frame.push_back (0xF7);
    return toMessage (frame);
}
