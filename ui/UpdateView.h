#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "ui/KRLinearSliderLookAndFeel.h"
#include "ui/KRSliderL.h"


/** The page shown while a firmware update is sent: a picture asking not to
    switch the device off, and a progress bar that only the program moves.
*/
class UpdateView : public juce::Component
{
public:
    UpdateView();
    ~UpdateView() override;

    void paint (juce::Graphics&) override;
    void resized() override;

    /** Moves the progress bar to a value from 0.0 to 1.0. Safe from any thread:
        the change is posted to the message thread and applied in call order.
    */
    void setProgress (double value);

    KRSliderL progressSlider;
    KRLinearSliderLookAndFeel sliderLookAndFeel;

private:
    // Made on the message thread with the page, so that posting from other
    // threads only copies it.
    const juce::Component::SafePointer<UpdateView> self { this };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UpdateView)
};
