#pragma once

#include "tests/support/VirtualMidiDevice.h"
#include "tests/support/VirtualUpdatePeer.h"

#include <atomic>
#include <memory>

/** A Norvo as the application meets it on the MIDI port layer: it answers the
    device-information request and the state read with its state (1 in its
    normal mode, 2 in update mode), speaks the update protocol, can stop
    answering, and can restart (leave the port lists and come back).

    While it exists it is the port layer's backend.
*/
class VirtualNorvo
{
public:
    explicit VirtualNorvo (const juce::String& portName = "Norvo");
    ~VirtualNorvo();

    void plug();
    void unplug();

    /** The state the device reports from now on. */
    void setState (int newState)                  { state = newState; }

    /** How many further state requests get an answer; -1 for all of them. */
    void setAnswersLeft (int count)               { answersLeft = count; }

    int getNumStateRequests() const noexcept      { return stateRequests; }

    /** When the application last opened, and last stopped, the device's input
        (juce::Time::getMillisecondCounterHiRes); 0 before the first time.
    */
    double getLastOpenTime() const noexcept       { return lastOpenTime; }
    double getLastCloseTime() const noexcept      { return lastCloseTime; }

    /** The reply to the data block with this number (counted over the whole update from
        1) is held back until peer.sendWithheldReply(): the update pauses there.
    */
    void pauseUpdateAtBlock (int blockNumber)     { pauseAtBlock = blockNumber; }

    VirtualMidiDevice device;
    VirtualUpdatePeer peer { device };

private:
    class AnsweringPorts;

    void beforeWrite (const juce::MidiMessage& message);
    void answerIfAsked (const juce::MidiMessage& written);

    std::atomic<int> state { 1 };
    std::atomic<int> answersLeft { -1 };
    std::atomic<int> stateRequests { 0 };
    std::atomic<bool> plugged { true };
    std::atomic<int> pauseAtBlock { 0 };
    std::atomic<int> blocksWritten { 0 };
    std::atomic<double> lastOpenTime { 0.0 }, lastCloseTime { 0.0 };

    JUCE_DECLARE_NON_COPYABLE (VirtualNorvo)
};
