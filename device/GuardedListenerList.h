#pragma once

#include "device/NotificationWalk.h"

/** A listener list that several threads may walk at once, and change while it is walked.

    A listener is held once; removal drops the first match. A walk calls the listeners from
    the last to the first and holds the lock only while it picks the next one (see
    notifyFromLastToFirst), so walks on different threads share no state, and a listener
    may remove itself during its call.
*/
template <typename ListenerType>
class GuardedListenerList
{
public:
    void add (ListenerType* listener)
    {
        const juce::ScopedLock sl (lock);
        listeners.addIfNotAlreadyThere (listener);
    }

    void remove (ListenerType* listener)
    {
        const juce::ScopedLock sl (lock);
        listeners.removeFirstMatchingValue (listener);
    }

    template <typename Call>
    void call (Call&& callback) const
    {
        notifyFromLastToFirst (listeners, lock, std::forward<Call> (callback));
    }

private:
    juce::Array<ListenerType*> listeners;
    juce::CriticalSection lock;
};
