#pragma once

#include <juce_events/juce_events.h>

#include <functional>

/** Runs the calling (message) thread's loop until the condition holds or the time runs out; returns whether it held. */
bool pumpMessagesUntil (const std::function<bool()>& condition, int timeoutMs = 2000);

/** Runs the message loop for a fixed time, for tests that check that nothing happens. */
inline void pumpMessagesFor (int milliseconds)  { juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds); }
