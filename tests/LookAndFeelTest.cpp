#include <gtest/gtest.h>

#include "BinaryData.h"
#include "tests/support/PageTesting.h"
#include "ui/DefaultLookAndFeel.h"
#include "ui/KRLinearSliderLookAndFeel.h"
#include "ui/KRSliderL.h"

namespace
{
    const juce::Colour gold (KRLinearSliderLookAndFeel::fillColour);

    // The columns of one row in which two renderings differ.
    juce::Range<int> changedColumns (const juce::Image& before, const juce::Image& after, int row)
    {
        int first = -1, last = -1;

        for (int x = 0; x < before.getWidth(); ++x)
            if (before.getPixelAt (x, row) != after.getPixelAt (x, row))
                last = x, first = first < 0 ? x : first;

        return first < 0 ? juce::Range<int>() : juce::Range<int> (first, last + 1);
    }

    juce::Image drawSlider (int width, int height, int x, int y, int w, int h, float pos,
                            juce::Slider::SliderStyle style = juce::Slider::LinearHorizontal)
    {
        KRLinearSliderLookAndFeel lookAndFeel;
        juce::Slider slider;
        auto image = blankImage (width, height);
        juce::Graphics g (image);
        lookAndFeel.drawLinearSlider (g, x, y, w, h, pos, 0.0f, 0.0f, style, slider);
        return image;
    }
}

TEST (DefaultLookAndFeel, ChoosesTheBoldFaceOnlyForTheWordBold)
{
    DefaultLookAndFeel lookAndFeel;
    EXPECT_EQ (lookAndFeel.getTypefaceForFont (juce::Font (12.0f)), nullptr);

    lookAndFeel.boldTypeface = new juce::CustomTypeface();
    lookAndFeel.regularTypeface = new juce::CustomTypeface();

    for (auto style : { "Bold", "bold", "Bold Italic", "Extra-Bold" })
        EXPECT_EQ (lookAndFeel.getTypefaceForFont (juce::Font ("Courier", style, 12.0f)), lookAndFeel.boldTypeface) << style;

    for (auto style : { "Regular", "Italic", "Oblique", "SemiBold", "Bolder", "" })
        EXPECT_EQ (lookAndFeel.getTypefaceForFont (juce::Font ("Any", style, 12.0f)), lookAndFeel.regularTypeface) << style;
}

TEST (KRLinearSliderLookAndFeel, FillRunsFromTwoPixelsToWidthMinusEight)
{
    // At the start only the track shows, stretched over the whole slider.
    const auto empty = drawSlider (227, 10, 0, 0, 227, 10, 0.0f);
    auto track = blankImage (227, 10);
    juce::Graphics (track).drawImage (resourceImage ("progress_track_png"), 0, 0, 227, 10, 0, 0, 448, 20);
    EXPECT_TRUE (samePixels (empty, track));

    // At the end the fill spans 219 px from x 2 on rows 2 to 7; half way trunc (219 * 0.5) = 109.
    const auto full = drawSlider (227, 10, 0, 0, 227, 10, 227.0f);
    EXPECT_EQ (changedColumns (empty, full, 5), juce::Range<int> (2, 221));
    EXPECT_EQ (full.getPixelAt (100, 2), gold);
    EXPECT_EQ (full.getPixelAt (100, 7), gold);

    for (auto row : { 0, 1, 8, 9 })
        EXPECT_TRUE (changedColumns (empty, full, row).isEmpty()) << row;

    EXPECT_EQ (changedColumns (empty, drawSlider (227, 10, 0, 0, 227, 10, 113.5f), 5), juce::Range<int> (2, 111));

    // Away from the origin everything moves with the area: 100 x 20 at (20, 10), fill 92 wide from x 22, nothing above y 12.
    const auto offEmpty = drawSlider (140, 40, 20, 10, 100, 20, 20.0f);
    const auto offFull = drawSlider (140, 40, 20, 10, 100, 20, 120.0f);
    EXPECT_EQ (offEmpty.getPixelAt (19, 20).getAlpha(), 0);
    EXPECT_NE (offEmpty.getPixelAt (20, 20).getAlpha(), 0);
    EXPECT_TRUE (changedColumns (offEmpty, offFull, 11).isEmpty());
    EXPECT_EQ (changedColumns (offEmpty, offFull, 20), juce::Range<int> (22, 114));
}

TEST (KRLinearSliderLookAndFeel, OtherStylesAndDegenerateAreasDrawNothingWrong)
{
    for (auto style : { juce::Slider::LinearVertical, juce::Slider::LinearBar, juce::Slider::LinearBarVertical,
                        juce::Slider::Rotary, juce::Slider::TwoValueHorizontal, juce::Slider::ThreeValueHorizontal })
        EXPECT_TRUE (isBlank (drawSlider (100, 40, 0, 0, 100, 40, 50.0f, style))) << (int) style;

    // Too small for a fill: neither a division by zero nor a negative fill.
    for (auto [width, height] : { std::pair { 0, 10 }, { 5, 10 }, { 100, 3 } })
    {
        const auto image = drawSlider (120, 20, 0, 0, width, height, (float) width);
        EXPECT_EQ (countPixels (image, [] (juce::Colour c) { return c == gold; }), 0) << width;
        EXPECT_EQ (image.getPixelAt (width + 1, 1).getAlpha(), 0) << width;
    }
}

TEST (KRLinearSliderLookAndFeel, SliderLayoutPerTextBoxPosition)
{
    using S = juce::Slider;
    using R = juce::Rectangle<int>;

    // The framework's thumb radius: 10 for a 20-high horizontal slider, 12 for a 100-wide vertical one.
    const struct { S::SliderStyle style; S::TextEntryBoxPosition position; int w, h, boxW, boxH; R box, area; } cases[] =
    {
        { S::LinearHorizontal, S::TextBoxRight, 200,  20, 50, 20, { 140,  0, 55, 20 }, { 10,  0, 125,  20 } },
        { S::LinearHorizontal, S::TextBoxLeft,   40,  20, 50, 20, {   0,  0, 15, 20 }, { 25,  0,   5,  20 } },
        { S::LinearVertical,   S::TextBoxRight, 100, 200, 40, 20, {  50, 90, 45, 20 }, {  0, 12,  55, 176 } },
        { S::LinearHorizontal, S::TextBoxAbove, 200,  60, 50, 20, {  72,  0, 55, 20 }, {  0, 20, 200,  40 } },
        { S::LinearHorizontal, S::NoTextBox,    227,  10,  0,  0, {},                  {  0,  0, 227,  10 } },
        { S::LinearBar,        S::TextBoxRight, 100,  20, 50, 20, {   0,  0, 100, 20 }, { 1,  1,  98,  18 } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (testing::Message() << c.position << " " << c.w << "x" << c.h);
        KRLinearSliderLookAndFeel lookAndFeel;
        S slider (c.style, c.position);
        slider.setTextBoxStyle (c.position, false, c.boxW, c.boxH);
        slider.setBounds (0, 0, c.w, c.h);

        const auto layout = lookAndFeel.getSliderLayout (slider);
        EXPECT_EQ (layout.textBoxBounds, c.box);
        EXPECT_EQ (layout.sliderBounds, c.area);
    }
}

TEST (KRSliderL, IgnoresClicksDragsAndTheWheel)
{
    const auto valueAfterMouse = [] (juce::Slider& slider)
    {
        slider.setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
        slider.setRange (0.0, 1.0, 0.0);
        slider.setBounds (0, 0, 227, 10);
        slider.setValue (0.25, juce::dontSendNotification);

        const auto at = [&slider] (float x, bool dragged)
        {
            return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), { x, 5.0f },
                                     juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier),
                                     juce::MouseInputSource::defaultPressure, 0.0f, 0.0f, 0.0f, 0.0f, &slider, &slider,
                                     juce::Time::getCurrentTime(), { 10.0f, 5.0f }, juce::Time::getCurrentTime(), 1, dragged);
        };

        slider.mouseEnter (at (10.0f, false));
        slider.mouseMove (at (10.0f, false));
        slider.mouseDown (at (10.0f, false));
        slider.mouseDrag (at (200.0f, true));
        slider.mouseUp (at (200.0f, true));
        slider.mouseExit (at (200.0f, false));
        slider.mouseWheelMove (at (100.0f, false), juce::MouseWheelDetails { 0.0f, 1.0f, false, false, false });
        return slider.getValue();
    };

    // The same gestures move an ordinary slider, so they would be seen.
    juce::Slider ordinary;
    EXPECT_NE (valueAfterMouse (ordinary), 0.25);

    KRSliderL progress;
    EXPECT_EQ (valueAfterMouse (progress), 0.25);
}
