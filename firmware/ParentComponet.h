#pragma once

#include "device/DataListener.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** A component that keeps the receivers of the messages it sends toward the device. */
class ParentComponet : public juce::Component
{
public:
    ParentComponet() = default;
    ~ParentComponet() override = default;

    /** Not owned; each must outlive this component. Each outgoing message goes to every
        entry, from the last to the first. */
    juce::Array<DataListener*> senders;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ParentComponet)
};
