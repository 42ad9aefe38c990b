#include "ui/DefaultLookAndFeel.h"

DefaultLookAndFeel::~DefaultLookAndFeel() = default;

juce::Typeface::Ptr DefaultLookAndFeel::getTypefaceForFont (const juce::Font& font)
{
    // The font name is deliberately ignored: the embedded face stands in for every family.
    if (font.getTypefaceStyle().containsWholeWordIgnoreCase ("Bold"))
        return boldTypeface;

    return regularTypeface;
}

juce::Font DefaultLookAndFeel::getAlertWindowTitleFont()   { return juce::Font (16.0f); }
juce::Font DefaultLookAndFeel::getAlertWindowMessageFont() { return juce::Font (15.0f); }
juce::Font DefaultLookAndFeel::getAlertWindowFont()        { return juce::Font (16.0f); }
