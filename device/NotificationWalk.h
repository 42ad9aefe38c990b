#pragma once

#include <juce_core/juce_core.h>

/** Calls `call (listener)` for every element of the list, from the last to the first.

    After each call the index is lowered to the list's current size, so a listener may
    remove itself (or others) during its call without another one being skipped; one added
    during the walk is not called in it.
*/
template <typename Listener, typename Call>
void notifyFromLastToFirst (const juce::Array<Listener*>& list, Call&& call)
{
    for (auto i = list.size(); i > 0;)
    {
        --i;
        call (*list.getUnchecked (i));
        i = juce::jmin (i, list.size());
    }
}
