#include "tests/support/MessageLoop.h"

bool pumpMessagesUntil (const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() >= deadline)
            return condition();

        pumpMessagesFor (2);
    }

    return true;
}
