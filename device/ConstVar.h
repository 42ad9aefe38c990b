#pragma once

#include <juce_events/juce_events.h>

#include <atomic>

/** What the device link knows about the connected model, plus the switch that lets the
    receive path pass decoded values on. Fields are read and written directly.
*/
class ConstVar : public juce::DeletedAtShutdown
{
public:
    ~ConstVar() override;

    static ConstVar* getInstance();

    /** Deletes the instance, if any; the next getInstance builds a fresh one. */
    static void deleteInstance();

    static constexpr int numCategoryNames = 20;

    // Written on the MIDI input thread as well as on the message thread.
    std::atomic<int> deviceKind { 2 };
    std::atomic<bool> dataEnabled { false };
    juce::String categoryNames[numCategoryNames];
    std::atomic<bool> isFullSizeModel { true };
    float factor = 0.5f;

private:
    ConstVar();

    static ConstVar* instance;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ConstVar)
};
