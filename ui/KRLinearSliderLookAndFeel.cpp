#include "ui/KRLinearSliderLookAndFeel.h"

#include "BinaryData.h"

#include <cmath>

namespace
{
    // Rounds to the nearest integer, a half to the even neighbour.
    int roundHalfToEven (double value)
    {
        const auto lower = std::floor (value);
        const auto fraction = value - lower;
        auto result = (int) lower;

        if (fraction > 0.5 || (fraction == 0.5 && (result % 2) != 0))
            ++result;

        return result;
    }

    juce::Font plainFont (float height)
    {
        return juce::Font (height);
    }
}

KRLinearSliderLookAndFeel::~KRLinearSliderLookAndFeel() = default;

//==============================================================================
void KRLinearSliderLookAndFeel::drawPopupMenuBackground (juce::Graphics& g, int, int)
{
    g.fillAll (juce::Colour (menuBackgroundColour));
}

void KRLinearSliderLookAndFeel::drawPopupMenuSeparator (juce::Graphics& g, const juce::Rectangle<int>& area)
{
    const auto k = juce::jmin (roundHalfToEven (area.getHeight() * 0.5 - 0.5), area.getHeight());

    g.setColour (findColour (juce::PopupMenu::textColourId).withAlpha ((juce::uint8) 0x4c));
    g.fillRect (area.getX() + 1, area.getY() + k,
                juce::jmax (0, area.getWidth() - 2), juce::jmin (1, area.getHeight() - k));
}

void KRLinearSliderLookAndFeel::drawPopupMenuItem (juce::Graphics& g, const juce::Rectangle<int>& area,
                                                   bool isSeparator, bool isActive, bool isHighlighted,
                                                   bool isTicked, bool hasSubMenu,
                                                   const juce::String& text, const juce::String& shortcutKeyText,
                                                   const juce::Drawable* icon, const juce::Colour* textColourToUse)
{
    if (isSeparator)
    {
        drawPopupMenuSeparator (g, area);
        return;
    }

    const auto textColour = textColourToUse != nullptr ? *textColourToUse
                                                       : findColour (juce::PopupMenu::textColourId);
    const auto showsHighlight = isHighlighted && isActive;
    const auto activeAlpha = isActive ? 1.0f : 0.5f;

    if (showsHighlight)
    {
        g.fillAll (juce::Colour (menuHighlightColour));
        g.setColour (findColour (juce::PopupMenu::highlightedTextColourId));
    }
    else
    {
        g.setColour (textColour.withMultipliedAlpha (activeAlpha));
    }

    auto font = getPopupMenuFont();

    if (font.getHeight() > (float) area.getHeight())
        font.setHeight ((float) area.getHeight());

    g.setFont (font);

    const auto iconWidth = juce::jmin (area.getWidth(), area.getHeight());
    const juce::Rectangle<int> iconArea (area.getX(), area.getY(), iconWidth, area.getHeight());
    juce::Rectangle<int> r (area.getX() + iconWidth, area.getY(), area.getWidth() - iconWidth, area.getHeight());

    if (icon != nullptr)
    {
        icon->drawWithin (g, iconArea.toFloat(),
                          juce::RectanglePlacement::centred | juce::RectanglePlacement::onlyReduceInSize, 1.0f);
    }
    else if (isTicked)
    {
        const auto tick = getTickShape (1.0f);
        g.fillPath (tick, tick.getTransformToScaleToFit (iconArea.toFloat().reduced ((float) iconWidth / 5.0f, 0.0f), true));
    }

    if (hasSubMenu)
    {
        const auto arrowHeight = 0.6f * getPopupMenuFont().getAscent();
        const auto arrowSpace = juce::jmin ((int) arrowHeight, r.getWidth());
        const auto x = 0.9f * (float) (area.getRight() - arrowSpace);
        const auto centreY = (float) (area.getY() + area.getHeight() / 2);

        juce::Path arrow;
        arrow.startNewSubPath (x, centreY - arrowHeight * 0.5f);
        arrow.lineTo (x + 0.6f * arrowHeight, centreY);
        arrow.lineTo (x, centreY + arrowHeight * 0.5f);

        g.strokePath (arrow, juce::PathStrokeType (2.0f));
        r.removeFromRight (arrowSpace);
    }

    r.removeFromRight (juce::jmin (3, r.getWidth()));

    g.setColour (showsHighlight ? juce::Colour (0xff232120) : textColour.withMultipliedAlpha (activeAlpha));
    g.drawFittedText (text, r, juce::Justification::centredLeft, 1);

    if (shortcutKeyText.isNotEmpty())
    {
        g.setFont (font.withHorizontalScale (0.95f));
        g.setColour (juce::Colour (0xffff0000));
        g.drawText (shortcutKeyText, r.toFloat(), juce::Justification::centredLeft, true);
    }
}

juce::Font KRLinearSliderLookAndFeel::getPopupMenuFont()      { return plainFont (10.0f); }
juce::Font KRLinearSliderLookAndFeel::getLabelFont (juce::Label&) { return plainFont (8.0f); }

//==============================================================================
void KRLinearSliderLookAndFeel::drawLinearSlider (juce::Graphics& g, int x, int y, int width, int height,
                                                  float sliderPos, float, float,
                                                  juce::Slider::SliderStyle style, juce::Slider&)
{
    if (style != juce::Slider::LinearHorizontal || width <= 0 || height <= 0)
        return;

    const auto track = juce::ImageCache::getFromMemory (BinaryData::progress_track_png,
                                                        BinaryData::progress_track_pngSize);
    g.drawImage (track, x, y, width, height, 0, 0, track.getWidth(), track.getHeight());

    // The fill runs from 2 px inside the track's left edge to 6 px inside its right edge.
    const auto proportion = (sliderPos - (float) x) / (float) width;
    const auto fillWidth = (int) ((float) (width - 8) * juce::jlimit (0.0f, 1.0f, proportion));
    const auto fillHeight = height - 4;

    if (fillWidth <= 0 || fillHeight <= 0)
        return;

    g.setColour (juce::Colour (fillColour));
    g.fillRoundedRectangle ((float) (x + 2), (float) (y + 2), (float) fillWidth, (float) fillHeight, 3.0f);
}

juce::Label* KRLinearSliderLookAndFeel::createSliderTextBox (juce::Slider& slider)
{
    auto* label = LookAndFeel_V4::createSliderTextBox (slider);

    label->setColour (juce::Label::outlineColourId, juce::Colour (0x00ffffff));
    label->setColour (juce::Label::outlineWhenEditingColourId, juce::Colour (0x00ffffff));
    label->setColour (juce::Label::textColourId, juce::Colour (0xffffffff));
    label->setColour (juce::Label::backgroundColourId, juce::Colour (0x00000000));

    return label;
}

juce::Slider::SliderLayout KRLinearSliderLookAndFeel::getSliderLayout (juce::Slider& slider)
{
    const auto w = slider.getWidth();
    const auto h = slider.getHeight();
    const auto pos = slider.getTextBoxPosition();
    const auto isSideBox = pos == juce::Slider::TextBoxLeft || pos == juce::Slider::TextBoxRight;

    const auto minX = isSideBox ? 30 : 0;
    const auto minY = isSideBox ? 0 : 15;
    const auto boxW = juce::jmax (0, juce::jmin (slider.getTextBoxWidth(), w - minX) + 5);
    const auto boxH = juce::jmax (0, juce::jmin (slider.getTextBoxHeight(), h - minY));

    juce::Slider::SliderLayout layout;

    if (pos != juce::Slider::NoTextBox)
    {
        if (slider.isBar())
            layout.textBoxBounds = { 0, 0, w, h };
        else if (pos == juce::Slider::TextBoxLeft)
            layout.textBoxBounds = { 0, (h - boxH) / 2, boxW, boxH };
        else if (pos == juce::Slider::TextBoxRight)
            layout.textBoxBounds = { w - boxW - 5, (h - boxH) / 2, boxW, boxH };
        else if (pos == juce::Slider::TextBoxAbove)
            layout.textBoxBounds = { (w - boxW) / 2, 0, boxW, boxH };
        else if (pos == juce::Slider::TextBoxBelow)
            layout.textBoxBounds = { (w - boxW) / 2, h - boxH, boxW, boxH };
    }

    layout.sliderBounds = { 0, 0, w, h };

    if (slider.isBar())
    {
        layout.sliderBounds = { 1, 1, juce::jmax (0, w - 2), juce::jmax (0, h - 2) };
        return layout;
    }

    if (pos == juce::Slider::TextBoxLeft)        layout.sliderBounds.removeFromLeft (juce::jmin (boxW, w));
    else if (pos == juce::Slider::TextBoxRight)  layout.sliderBounds.removeFromRight (juce::jmin (boxW, w));
    else if (pos == juce::Slider::TextBoxAbove)  layout.sliderBounds.removeFromTop (juce::jmin (boxH, h));
    else if (pos == juce::Slider::TextBoxBelow)  layout.sliderBounds.removeFromBottom (juce::jmin (boxH, h));

    // Only a side text box pulls the track in by the thumb's radius.
    if (isSideBox)
    {
        const auto thumbIndent = getSliderThumbRadius (slider);
        auto& bounds = layout.sliderBounds;

        if (slider.isHorizontal())
            bounds = { bounds.getX() + thumbIndent, bounds.getY(), juce::jmax (0, bounds.getWidth() - 2 * thumbIndent), bounds.getHeight() };
        else if (slider.isVertical())
            bounds = { bounds.getX(), bounds.getY() + thumbIndent, bounds.getWidth(), juce::jmax (0, bounds.getHeight() - 2 * thumbIndent) };
    }

    return layout;
}
