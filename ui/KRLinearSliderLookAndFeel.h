#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Draws the update page's progress bar: the embedded track image with a gold fill,
    using the whole slider area. Also restyles popup menus, labels and the text box.
*/
class KRLinearSliderLookAndFeel : public juce::LookAndFeel_V4
{
public:
    KRLinearSliderLookAndFeel() = default;
    ~KRLinearSliderLookAndFeel() override;

    void drawPopupMenuBackground (juce::Graphics&, int width, int height) override;

    void drawPopupMenuItem (juce::Graphics&, const juce::Rectangle<int>& area,
                            bool isSeparator, bool isActive, bool isHighlighted, bool isTicked, bool hasSubMenu,
                            const juce::String& text, const juce::String& shortcutKeyText,
                            const juce::Drawable* icon, const juce::Colour* textColourToUse) override;

    juce::Font getPopupMenuFont() override;
    juce::Font getLabelFont (juce::Label&) override;

    void drawLinearSlider (juce::Graphics&, int x, int y, int width, int height,
                           float sliderPos, float minSliderPos, float maxSliderPos,
                           juce::Slider::SliderStyle, juce::Slider&) override;

    juce::Label* createSliderTextBox (juce::Slider&) override;
    juce::Slider::SliderLayout getSliderLayout (juce::Slider&) override;

    static constexpr juce::uint32 fillColour          = 0xfffdc743;
    static constexpr juce::uint32 menuBackgroundColour = 0xff232120;
    static constexpr juce::uint32 menuHighlightColour  = 0xffe4b262;

private:
    void drawPopupMenuSeparator (juce::Graphics&, const juce::Rectangle<int>& area);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KRLinearSliderLookAndFeel)
};
