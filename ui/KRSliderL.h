#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** A slider used as a progress bar: it ignores the mouse, so only the program moves it. */
class KRSliderL : public juce::Slider
{
public:
    KRSliderL() = default;
    ~KRSliderL() override;

    void mouseMove (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;
    void mouseDown (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KRSliderL)
};
