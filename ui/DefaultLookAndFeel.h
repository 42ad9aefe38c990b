#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The application's default look-and-feel: it draws every text with the embedded
    typeface and gives alert windows their own font sizes.

    The owner fills both typefaces before installing it with
    juce::LookAndFeel::setDefaultLookAndFeel; until then fonts get no typeface.
*/
class DefaultLookAndFeel : public juce::LookAndFeel_V4
{
public:
    DefaultLookAndFeel() = default;
    ~DefaultLookAndFeel() override;

    /** The bold face for any style holding the word "Bold", the regular face otherwise. */
    juce::Typeface::Ptr getTypefaceForFont (const juce::Font&) override;

    juce::Font getAlertWindowTitleFont() override;
    juce::Font getAlertWindowMessageFont() override;
    juce::Font getAlertWindowFont() override;

    juce::Typeface::Ptr boldTypeface;
    juce::Typeface::Ptr regularTypeface;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DefaultLookAndFeel)
};
