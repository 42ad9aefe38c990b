#include <gtest/gtest.h>

#include "tests/support/MessageLoop.h"

TEST (MessageLoop, RunsPostedCallsUntilTheConditionHolds)
{
    bool called = false;
    juce::MessageManager::callAsync ([&called] { called = true; });

    EXPECT_TRUE (pumpMessagesUntil ([&called] { return called; }));
}
