#include "device/MIDIUSBFsm.h"

#include "device/MIDIPortPair.h"

MIDIUSBFsm::MIDIUSBFsm()
{
    setActionTarget (this);
}

MIDIUSBFsm::~MIDIUSBFsm()
{
    portPair.reset();
}

void MIDIUSBFsm::handleIncomingMidiMessage (const juce::String& sourceIdentifier, const juce::MidiMessage& message)
{
    if (portPair == nullptr || ! portPair->isOpenInput (sourceIdentifier))
        return;

    fireEvent (evMidiIn, const_cast<juce::MidiMessage*> (&message));
}

void MIDIUSBFsm::setPortPair (std::unique_ptr<MIDIPortPair> newPortPair)
{
    portPair = std::move (newPortPair);
}
