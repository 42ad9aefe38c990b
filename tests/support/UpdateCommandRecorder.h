#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** A command target that records the codes posted to it. */
class UpdateCommandRecorder : public juce::Component
{
public:
    void handleCommandMessage (int commandId) override   { codes.push_back (commandId); }

    /** Runs the message loop until the codes posted before the call have arrived, and hands them over. */
    std::vector<int> drain();

    /** Runs the message loop until this code arrives; the codes stay recorded. */
    bool waitFor (int commandId, int timeoutMs = 5000);

private:
    std::vector<int> codes;
};
