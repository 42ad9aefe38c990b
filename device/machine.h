#pragma once

#include "device/MIDIDeviceListener.h"
#include "device/MIDIMessageListener.h"

#include <juce_core/juce_core.h>

#include <functional>
#include <memory>

/** An action of the transition table: (the machine's action target, the event's payload). */
using TransitionAction = std::function<void (void*, void*)>;

/** A table-driven state machine with its two listener lists.

    fireEvent looks up (current state, event) under a spin lock, moves to the entry's next
    state and runs its action after leaving the lock, so an action may fire further events,
    which are handled at once against the state already set. Events without an entry are
    dropped. The table is written only while the owner builds it, before any event.
*/
class machine
{
public:
    machine();
    ~machine();

    void setTransition (int state, int event, int nextState, TransitionAction action);
    void fireEvent (int event, void* payload);

    juce::uint32 getCurrentState() const noexcept;
    void setCurrentState (juce::uint32 newState) noexcept;

    juce::uint32 getStateCount() const noexcept     { return stateCount; }
    juce::uint32 getEventCount() const noexcept     { return eventCount; }

    /** Each adds the pointer unless it is already in the list. */
    void addMessageListener (MIDIMessageListener* listener);
    void addDeviceListener (MIDIDeviceListener* listener);

    int getNumMessageListeners() const;
    int getNumDeviceListeners() const;

    /** Walk the lists from the last listener to the first; a listener may remove itself. */
    void notifyMessageListeners (const juce::MidiMessage& message);
    void notifyDeviceListeners (int connectionEvent);

protected:
    /** What actions receive as their first argument; the machine itself unless changed. */
    void setActionTarget (void* target) noexcept    { actionTarget = target; }

private:
    struct Entry
    {
        juce::uint32 nextState = 0;
        TransitionAction action;
    };

    juce::uint32 stateCount = 5;
    juce::uint32 eventCount = 96;
    std::unique_ptr<Entry[]> table;
    juce::uint32 currentState = 0;
    mutable juce::SpinLock lock;

    juce::Array<MIDIMessageListener*> messageListeners;
    juce::Array<MIDIDeviceListener*> deviceListeners;
    juce::CriticalSection listenerLock;

    void* actionTarget = this;

    JUCE_DECLARE_NON_COPYABLE (machine)
};
