#pragma once

#include "tests/support/VirtualMidiDevice.h"
#include "tests/support/VirtualUpdatePeer.h"

#include <atomic>

/** A Norvo on the MIDI port layer, unplugged at first: it answers the device-information
    request and the state read with its state (1 in its normal mode, 2 in update mode),
    speaks the update protocol, can stop answering, and can restart (leave the port lists
    and come back). While it exists it is the port layer's backend.
*/
class VirtualNorvo
{
public:
    VirtualNorvo();
    ~VirtualNorvo();

    void plug()                                   { plugged = true;  device.plug(); }
    void unplug()                                 { plugged = false; device.unplug(); }

    void setState (int newState)                  { state = newState; }

    /** How many further state requests get an answer; -1 for all of them. */
    void setAnswersLeft (int count)               { answersLeft = count; }
    int getNumStateRequests() const noexcept      { return stateRequests; }

    /** When the application last opened, and last stopped, the device's input
        (juce::Time::getMillisecondCounterHiRes).
    */
    double getLastOpenTime() const noexcept       { return lastOpenTime; }
    double getLastCloseTime() const noexcept      { return lastCloseTime; }

    /** The reply to the data block with this number (counted over the whole update from
        1) is held back until peer.sendWithheldReply(): the update pauses there.
    */
    void pauseUpdateAtBlock (int blockNumber)     { pauseAtBlock = blockNumber; }

    VirtualMidiDevice device { "Norvo USB MIDI", "Norvo USB MIDI" };
    VirtualUpdatePeer peer { device };

private:
    class AnsweringPorts;

    void beforeWrite (const juce::MidiMessage& message);

    std::atomic<int> state { 1 }, answersLeft { -1 }, stateRequests { 0 }, pauseAtBlock { 0 }, blocksWritten { 0 };
    std::atomic<bool> plugged { false };
    std::atomic<double> lastOpenTime { 0.0 }, lastCloseTime { 0.0 };

    JUCE_DECLARE_NON_COPYABLE (VirtualNorvo)
};
