#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <vector>

/** A command target that records the codes posted to it.

    drain() runs the message loop until every code posted before the call has arrived
    (it posts a marker of its own and waits for it), then returns and forgets them.
*/
class UpdateCommandRecorder : public juce::Component
{
public:
    void handleCommandMessage (int commandId) override;

    std::vector<int> drain();

    /** Runs the message loop until this code arrives; the codes stay recorded. */
    bool waitFor (int commandId, int timeoutMs = 5000);

private:
    static constexpr int marker = -12345;

    std::vector<int> codes;
    bool markerSeen = false;
};
