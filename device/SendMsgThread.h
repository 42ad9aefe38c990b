#pragma once

#include <juce_events/juce_events.h>

/** A thread whose only work is to start the 10 ms timer that drives the packet
    transport's send pump on the message thread.
*/
class SendMsgThread : public juce::Thread,
                      private juce::Timer
{
public:
    explicit SendMsgThread (const juce::String& threadName);
    ~SendMsgThread() override;

    void run() override;

    static constexpr int pumpIntervalMs = 10;

private:
    void timerCallback() override;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SendMsgThread)
};
