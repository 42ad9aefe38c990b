#pragma once

#include "device/MIDIUSBFsm.h"

#include <juce_events/juce_events.h>

#include <atomic>

class MIDIPortPair;

/** Owns the connection state machine and its port pair, drives it with a 100 ms tick
    (started by KRMIDIDeviceManager), holds the user-message gate and sends the
    device-state request.
*/
class MIDIManager : public juce::DeletedAtShutdown,
                    public juce::Timer
{
public:
    ~MIDIManager() override;

    static MIDIManager* getInstance();

    /** Deletes the instance, if any; the next getInstance builds a fresh one. */
    static void deleteInstance();

    static constexpr int tickIntervalMs = 100;
    static constexpr int deviceStateDelayMs = 1000;
    static constexpr int deviceStateFramePauseMs = 200;

    /** Fires evTick. */
    void timerCallback() override;

    /** Runs the device-state request on the message thread 1000 ms from now. */
    void sendDeviceState();

    /** The device-state request itself: opens the user-message gate, then sends the
        device-information request and, 200 ms later, the software-state read. Blocks the
        calling (message) thread for the pause.
    */
    void sendDeviceStateNow();

    MIDIUSBFsm& getStateMachine() noexcept      { return fsm; }
    MIDIPortPair& getPortPair() noexcept        { return *fsm.getPortPair(); }

    /** Set by the first device-state request and never cleared; while false, hand-built
        frames are dropped instead of being sent. Read on the MIDI input thread too.
    */
    std::atomic<bool> isCanSendUserMsg { false };

private:
    class DelayedRequest;

    MIDIManager();
    void runDelayedRequest (DelayedRequest*);

    MIDIUSBFsm fsm;

    // Requests still waiting for their delay: owned here, so that none outlives the
    // manager or is left behind at shutdown.
    juce::OwnedArray<DelayedRequest> delayedRequests;

    static MIDIManager* instance;

    JUCE_DECLARE_WEAK_REFERENCEABLE (MIDIManager)
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MIDIManager)
};
