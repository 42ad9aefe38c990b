#pragma once

#include <juce_core/juce_core.h>

#include <limits>

/** Calls `call (listener)` for every element of the list, from the last to the first.

    The index is lowered to the list's current size before each step, so a listener may
    remove itself (or others) during its call without another one being skipped; one added
    during the walk is not called in it.

    The lock is held only while the next listener is picked, never during its call, so
    other threads may add listeners meanwhile and a listener may add or remove one itself.
*/
template <typename Listener, typename Lock, typename Call>
void notifyFromLastToFirst (const juce::Array<Listener*>& list, const Lock& lock, Call&& call)
{
    for (auto i = std::numeric_limits<int>::max();;)
    {
        Listener* listener = nullptr;

        {
            const juce::GenericScopedLock<Lock> sl (lock);
            i = juce::jmin (i, list.size()) - 1;

            if (i < 0)
                return;

            listener = list.getUnchecked (i);
        }

        call (*listener);
    }
}

/** The same walk for a list that only one thread touches while it is walked. */
template <typename Listener, typename Call>
void notifyFromLastToFirst (const juce::Array<Listener*>& list, Call&& call)
{
    notifyFromLastToFirst (list, juce::DummyCriticalSection(), std::forward<Call> (call));
}
