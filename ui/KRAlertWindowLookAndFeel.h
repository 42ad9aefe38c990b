#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The flat dark style of the back-up warning: a thin dark outline, a separator under
    the title, flat buttons and fixed font sizes. Also restyles the alert icon and
    progress bars, so that it behaves the same wherever it is used.
*/
class KRAlertWindowLookAndFeel : public juce::LookAndFeel_V4
{
public:
    KRAlertWindowLookAndFeel() = default;
    ~KRAlertWindowLookAndFeel() override;

    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour& backgroundColour,
                               bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;
    juce::Font getTextButtonFont (juce::TextButton&, int buttonHeight) override;

    void drawAlertBox (juce::Graphics&, juce::AlertWindow&, const juce::Rectangle<int>& textArea,
                       juce::TextLayout&) override;
    juce::Font getAlertWindowTitleFont() override;
    juce::Font getAlertWindowMessageFont() override;
    juce::Font getAlertWindowFont() override;

    void drawProgressBar (juce::Graphics&, juce::ProgressBar&, int width, int height,
                          double progress, const juce::String& textToShow) override;

    /** A square bar: a spinning arc in the bar's own colours. */
    void drawCircularProgressBar (juce::Graphics&, juce::ProgressBar&, const juce::String& textToShow);

    /** Any other bar: a gold fill on a dark track, or moving stripes when the progress is unknown. */
    void drawLinearProgressBar (juce::Graphics&, juce::ProgressBar&, int width, int height,
                                double progress, const juce::String& textToShow);

    static constexpr juce::uint32 buttonColour        = 0xff3d3e42;
    static constexpr juce::uint32 separatorColour     = 0xff3d3e42;
    static constexpr juce::uint32 outlineColour       = 0xff27282b;
    static constexpr juce::uint32 warningIconColour   = 0x66ff2a00;
    static constexpr juce::uint32 otherIconColour     = 0x6600b0b9;
    static constexpr juce::uint32 barBackgroundColour = 0xff1e1d1b;
    static constexpr juce::uint32 barFillColour       = 0xffe4b262;

private:
    void drawAlertIcon (juce::Graphics&, juce::AlertWindow&, int iconSize);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KRAlertWindowLookAndFeel)
};
