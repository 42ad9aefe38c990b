#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

/** Receives every message that arrives on the device's open MIDI input, on the MIDI input thread. */
class MIDIMessageListener
{
public:
    virtual void handleMidiMessage (const juce::MidiMessage& /*message*/) {}
    virtual ~MIDIMessageListener() = default;
};
