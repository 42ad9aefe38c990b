#include "tests/support/MessageLoop.h"

bool pumpMessagesUntil (const std::function<bool()>& condition, int timeoutMs)
{
    for (const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs; ! condition(); pumpMessagesFor (2))
        if (juce::Time::getMillisecondCounter() >= deadline)
            return condition();

    return true;
}
