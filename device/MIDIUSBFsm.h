#pragma once

#include "device/MidiPorts.h"
#include "device/machine.h"

#include <memory>

class MIDIPortPair;

/** States of the connection state machine. */
enum MidiFsmState : juce::uint32
{
    stateSearching    = 0,
    stateConnected    = 1,
    stateBusy         = 2,
    stateIdle         = 3,
    stateDisconnected = 4
};

/** Events of the connection state machine (3 and 8 to 95 have no transitions). */
enum MidiFsmEvent : int
{
    evPortsFound  = 0,
    evDeviceLost  = 1,
    evCloseDevice = 2,
    evMidiIn      = 4,   // payload: const juce::MidiMessage*
    evSendSysEx   = 5,   // payload: const juce::MidiMessage*, F0 ... F7 included
    evDone        = 6,
    evTick        = 7
};

/** The connection state machine of the device's USB-MIDI port pair.

    It owns the port pair and receives the messages of the pair's open input; every
    incoming message becomes evMidiIn, delivered to the message listeners on the MIDI
    input thread. Actions receive this object as their first argument.
*/
class MIDIUSBFsm : public machine,
                   private MidiPortCallback
{
public:
    MIDIUSBFsm();
    ~MIDIUSBFsm() override;

    /** Takes a message only from the port pair's open input. */
    void handleIncomingMidiMessage (const juce::String& sourceIdentifier, const juce::MidiMessage& message) override;

    void setPortPair (std::unique_ptr<MIDIPortPair> newPortPair);
    MIDIPortPair* getPortPair() const noexcept      { return portPair.get(); }

    /** What the port pair hands to the MIDI layer when it opens the input. */
    MidiPortCallback* getPortCallback() noexcept    { return this; }

private:
    std::unique_ptr<MIDIPortPair> portPair;

    JUCE_DECLARE_NON_COPYABLE (MIDIUSBFsm)
};
