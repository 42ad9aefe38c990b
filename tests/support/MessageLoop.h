#pragma once

#include <juce_events/juce_events.h>

#include <functional>

/** Runs the message loop for a fixed time, for tests that check that nothing happens. */
inline void pumpMessagesFor (int milliseconds)  { juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds); }

/** Runs the calling (message) thread's loop until the condition holds or the time runs out; returns whether it held. */
inline bool pumpMessagesUntil (const std::function<bool()>& condition, int timeoutMs = 2000)
{
    for (const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs; ! condition(); pumpMessagesFor (2))
        if (juce::Time::getMillisecondCounter() >= deadline)
            return condition();

    return true;
}
