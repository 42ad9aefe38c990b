#pragma once

#include "device/COMMIntf.h"
#include "device/MIDIMessageListener.h"

/** Sends frames through the connection state machine and hands every incoming MIDI
    message's bytes to its receivers.
*/
class CMIDIUsbIntf : public COMMIntf,
                     private MIDIMessageListener
{
public:
    CMIDIUsbIntf() = default;

    /** Wraps the frame in F0 ... F7 and fires the state machine's send event, but only
        while the device link allows user messages; otherwise the frame is dropped.
        Returns length either way.
    */
    int send (const juce::Array<juce::uint8>& frame, int length) override;

    /** The side of this object that the state machine delivers incoming messages to. */
    MIDIMessageListener& getMessageListener() noexcept    { return *this; }

private:
    void handleMidiMessage (const juce::MidiMessage& message) override;

    JUCE_DECLARE_NON_COPYABLE (CMIDIUsbIntf)
};
