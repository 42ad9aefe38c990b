#include "device/machine.h"

#include "device/NotificationWalk.h"

machine::machine()
    : table (std::make_unique<Entry[]> (stateCount * eventCount))
{
}

machine::~machine() = default;

void machine::setTransition (int state, int event, int nextState, TransitionAction action)
{
    auto& entry = table[(size_t) state * eventCount + (size_t) event];
    entry.nextState = (juce::uint32) nextState;
    entry.action = std::move (action);
}

void machine::fireEvent (int event, void* payload)
{
    const Entry* entry = nullptr;

    {
        const juce::SpinLock::ScopedLockType sl (lock);

        if (event < 0 || (juce::uint32) event >= eventCount)
            return;

        auto& candidate = table[(size_t) currentState * eventCount + (size_t) event];

        if (! candidate.action)
            return;

        currentState = candidate.nextState;
        entry = &candidate;
    }

    // The table is never written once events flow, so the entry stays valid outside the lock.
    entry->action (actionTarget, payload);
}

juce::uint32 machine::getCurrentState() const noexcept
{
    const juce::SpinLock::ScopedLockType sl (lock);
    return currentState;
}

void machine::setCurrentState (juce::uint32 newState) noexcept
{
    const juce::SpinLock::ScopedLockType sl (lock);
    currentState = newState;
}

void machine::addMessageListener (MIDIMessageListener* listener)
{
    const juce::ScopedLock sl (listenerLock);
    messageListeners.addIfNotAlreadyThere (listener);
}

void machine::addDeviceListener (MIDIDeviceListener* listener)
{
    const juce::ScopedLock sl (listenerLock);
    deviceListeners.addIfNotAlreadyThere (listener);
}

int machine::getNumMessageListeners() const
{
    const juce::ScopedLock sl (listenerLock);
    return messageListeners.size();
}

int machine::getNumDeviceListeners() const
{
    const juce::ScopedLock sl (listenerLock);
    return deviceListeners.size();
}

void machine::notifyMessageListeners (const juce::MidiMessage& message)
{
    notifyFromLastToFirst (messageListeners, listenerLock,
                           [&message] (MIDIMessageListener& l) { l.handleMidiMessage (message); });
}

void machine::notifyDeviceListeners (int connectionEvent)
{
    notifyFromLastToFirst (deviceListeners, listenerLock,
                           [connectionEvent] (MIDIDeviceListener& l) { l.conectEvent (connectionEvent); });
}
