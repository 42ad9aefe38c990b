#include <gtest/gtest.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include "BinaryData.h"
#include "ui/DefaultLookAndFeel.h"
#include "ui/KRLinearSliderLookAndFeel.h"
#include "ui/KRSliderL.h"

namespace
{
    const juce::Colour gold (KRLinearSliderLookAndFeel::fillColour);

    juce::Image blankImage (int width, int height)
    {
        return juce::Image (juce::Image::ARGB, width, height, true);
    }

    bool isBlank (const juce::Image& image)
    {
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                if (image.getPixelAt (x, y).getAlpha() != 0)
                    return false;

        return true;
    }

    bool sameImages (const juce::Image& a, const juce::Image& b)
    {
        if (a.getBounds() != b.getBounds())
            return false;

        for (int y = 0; y < a.getHeight(); ++y)
            for (int x = 0; x < a.getWidth(); ++x)
                if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                    return false;

        return true;
    }

    // The columns of one row in which two renderings differ.
    juce::Range<int> changedColumns (const juce::Image& before, const juce::Image& after, int row)
    {
        int first = -1, last = -1;

        for (int x = 0; x < before.getWidth(); ++x)
        {
            if (before.getPixelAt (x, row) != after.getPixelAt (x, row))
            {
                if (first < 0)
                    first = x;

                last = x;
            }
        }

        return first < 0 ? juce::Range<int>() : juce::Range<int> (first, last + 1);
    }

    juce::Image trackImage()
    {
        return juce::ImageCache::getFromMemory (BinaryData::progress_track_png, BinaryData::progress_track_pngSize);
    }

    // A progress slider as the update page sets it up.
    struct ProgressSlider
    {
        ProgressSlider (int width, int height)
        {
            slider.setSliderStyle (juce::Slider::LinearHorizontal);
            slider.setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
            slider.setLookAndFeel (&lookAndFeel);
            slider.setRange (0.0, 1.0, 0.0);
            slider.setBounds (0, 0, width, height);
        }

        ~ProgressSlider() { slider.setLookAndFeel (nullptr); }

        juce::Image paintAt (double value)
        {
            slider.setValue (value, juce::dontSendNotification);
            auto image = blankImage (slider.getWidth(), slider.getHeight());
            juce::Graphics g (image);
            slider.paintEntireComponent (g, true);
            return image;
        }

        KRLinearSliderLookAndFeel lookAndFeel;
        KRSliderL slider;
    };
}

//==============================================================================
TEST (DefaultLookAndFeel, ChoosesTheBoldFaceOnlyForTheWordBold)
{
    DefaultLookAndFeel lookAndFeel;
    EXPECT_EQ (lookAndFeel.getTypefaceForFont (juce::Font (12.0f)), nullptr);

    lookAndFeel.boldTypeface = new juce::CustomTypeface();
    lookAndFeel.regularTypeface = new juce::CustomTypeface();

    const auto faceFor = [&lookAndFeel] (const juce::String& name, const juce::String& style)
    {
        return lookAndFeel.getTypefaceForFont (juce::Font (name, style, 12.0f)).get();
    };

    for (auto style : { "Bold", "bold", "Bold Italic", "Extra-Bold" })
        EXPECT_EQ (faceFor ("Any Family", style), lookAndFeel.boldTypeface.get()) << style;

    for (auto style : { "Regular", "Italic", "Oblique", "SemiBold", "Bolder", "" })
        EXPECT_EQ (faceFor ("Any Family", style), lookAndFeel.regularTypeface.get()) << style;

    // The family does not matter; the style flags do.
    EXPECT_EQ (faceFor ("Courier", "Bold"), lookAndFeel.boldTypeface.get());
    EXPECT_EQ (lookAndFeel.getTypefaceForFont (juce::Font (12.0f, juce::Font::bold | juce::Font::italic)).get(),
               lookAndFeel.boldTypeface.get());
}

TEST (DefaultLookAndFeel, InstalledAsDefaultItSuppliesTheEmbeddedFaceToEveryFont)
{
    DefaultLookAndFeel lookAndFeel;
    lookAndFeel.regularTypeface = juce::Typeface::createSystemTypefaceFor (BinaryData::typeface_otf, (size_t) BinaryData::typeface_otfSize);
    lookAndFeel.boldTypeface = juce::Typeface::createSystemTypefaceFor (BinaryData::typeface_otf, (size_t) BinaryData::typeface_otfSize);

    juce::Typeface::clearTypefaceCache();
    juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);

    EXPECT_EQ (juce::Font (14.0f).getTypefacePtr(), lookAndFeel.regularTypeface);
    EXPECT_EQ (juce::Font (14.0f, juce::Font::bold).getTypefacePtr(), lookAndFeel.boldTypeface);
    EXPECT_EQ (juce::Font ("Some Other Family", 14.0f, juce::Font::italic).getTypefacePtr(), lookAndFeel.regularTypeface);

    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    juce::Typeface::clearTypefaceCache();
}

//==============================================================================
TEST (KRLinearSliderLookAndFeel, FillRunsFromTwoPixelsToWidthMinusEight)
{
    ProgressSlider progress (227, 10);
    const auto middleRow = 5;

    // At the start only the track shows, stretched over the whole slider.
    const auto empty = progress.paintAt (0.0);

    auto expectedTrack = blankImage (227, 10);
    {
        juce::Graphics g (expectedTrack);
        g.drawImage (trackImage(), 0, 0, 227, 10, 0, 0, 448, 20);
    }
    EXPECT_TRUE (sameImages (empty, expectedTrack));

    // At the end the fill spans 219 px from x 2: 2 px short of the left edge, 6 of the right.
    const auto full = progress.paintAt (1.0);
    EXPECT_EQ (changedColumns (empty, full, middleRow), juce::Range<int> (2, 2 + 219));
    EXPECT_EQ (full.getPixelAt (100, middleRow), gold);

    // Rows 0, 1, 8 and 9 stay free of the fill.
    for (auto row : { 0, 1, 8, 9 })
        EXPECT_TRUE (changedColumns (empty, full, row).isEmpty()) << row;

    EXPECT_EQ (full.getPixelAt (100, 2), gold);
    EXPECT_EQ (full.getPixelAt (100, 7), gold);

    // Half way: trunc (219 * 0.5) = 109.
    EXPECT_EQ (changedColumns (empty, progress.paintAt (0.5), middleRow), juce::Range<int> (2, 2 + 109));
}

TEST (KRLinearSliderLookAndFeel, DrawsAtTheGivenOrigin)
{
    KRLinearSliderLookAndFeel lookAndFeel;
    juce::Slider slider;

    const auto paintAt = [&] (float sliderPos)
    {
        auto image = blankImage (140, 40);
        juce::Graphics g (image);
        lookAndFeel.drawLinearSlider (g, 20, 10, 100, 20, sliderPos, 20.0f, 120.0f,
                                      juce::Slider::LinearHorizontal, slider);
        return image;
    };

    const auto empty = paintAt (20.0f);
    const auto full = paintAt (120.0f);

    EXPECT_EQ (empty.getPixelAt (19, 20).getAlpha(), 0);
    EXPECT_NE (empty.getPixelAt (20, 20).getAlpha(), 0);
    EXPECT_NE (empty.getPixelAt (119, 20).getAlpha(), 0);
    EXPECT_EQ (empty.getPixelAt (120, 20).getAlpha(), 0);
    EXPECT_EQ (empty.getPixelAt (60, 9).getAlpha(), 0);
    EXPECT_EQ (empty.getPixelAt (60, 30).getAlpha(), 0);

    EXPECT_EQ (changedColumns (empty, full, 20), juce::Range<int> (22, 22 + 92));
    EXPECT_TRUE (changedColumns (empty, full, 11).isEmpty());
    EXPECT_TRUE (changedColumns (empty, full, 28).isEmpty());
}

TEST (KRLinearSliderLookAndFeel, OtherStylesAndEmptyAreasDrawNothing)
{
    KRLinearSliderLookAndFeel lookAndFeel;
    juce::Slider slider;

    for (auto style : { juce::Slider::LinearVertical, juce::Slider::LinearBar, juce::Slider::LinearBarVertical,
                        juce::Slider::Rotary, juce::Slider::TwoValueHorizontal, juce::Slider::ThreeValueHorizontal })
    {
        auto image = blankImage (100, 40);
        {
            juce::Graphics g (image);
            lookAndFeel.drawLinearSlider (g, 0, 0, 100, 40, 50.0f, 0.0f, 100.0f, style, slider);
        }
        EXPECT_TRUE (isBlank (image)) << (int) style;
    }

    // Degenerate areas must neither divide by zero nor paint a negative fill.
    for (auto [width, height] : { std::pair { 0, 10 }, { 5, 10 }, { 100, 3 } })
    {
        auto image = blankImage (120, 20);
        {
            juce::Graphics g (image);
            lookAndFeel.drawLinearSlider (g, 0, 0, width, height, (float) width, 0.0f, (float) width,
                                          juce::Slider::LinearHorizontal, slider);
        }
        for (int x = 0; x < 120; ++x)
            EXPECT_NE (image.getPixelAt (x, 1), gold);

        EXPECT_EQ (image.getPixelAt (width + 1, 1).getAlpha(), 0);
    }
}

//==============================================================================
namespace
{
    juce::Slider::SliderLayout layoutOf (juce::Slider::SliderStyle style, juce::Slider::TextEntryBoxPosition position,
                                         int width, int height, int boxWidth, int boxHeight)
    {
        KRLinearSliderLookAndFeel lookAndFeel;
        juce::Slider slider (style, position);
        slider.setLookAndFeel (&lookAndFeel);
        slider.setTextBoxStyle (position, false, boxWidth, boxHeight);
        slider.setBounds (0, 0, width, height);

        const auto layout = lookAndFeel.getSliderLayout (slider);
        slider.setLookAndFeel (nullptr);
        return layout;
    }

    int thumbRadius (juce::Slider::SliderStyle style, int width, int height)
    {
        KRLinearSliderLookAndFeel lookAndFeel;
        juce::Slider slider (style, juce::Slider::NoTextBox);
        slider.setBounds (0, 0, width, height);
        return lookAndFeel.getSliderThumbRadius (slider);
    }
}

TEST (KRLinearSliderLookAndFeel, SideTextBoxIsFivePixelsWiderAndShortOfTheEdge)
{
    const auto t = thumbRadius (juce::Slider::LinearHorizontal, 200, 20);
    ASSERT_GT (t, 0);

    // Right box: 55 wide at x 140, the track area spans x 0 to 145 before the thumb indent.
    const auto right = layoutOf (juce::Slider::LinearHorizontal, juce::Slider::TextBoxRight, 200, 20, 50, 20);
    EXPECT_EQ (right.textBoxBounds, juce::Rectangle<int> (140, 0, 55, 20));
    EXPECT_EQ (right.sliderBounds, juce::Rectangle<int> (t, 0, 145 - 2 * t, 20));

    const auto left = layoutOf (juce::Slider::LinearHorizontal, juce::Slider::TextBoxLeft, 200, 20, 50, 10);
    EXPECT_EQ (left.textBoxBounds, juce::Rectangle<int> (0, 5, 55, 10));
    EXPECT_EQ (left.sliderBounds, juce::Rectangle<int> (55 + t, 0, 145 - 2 * t, 20));

    // The box never takes more than the width less 30, plus its 5.
    const auto narrow = layoutOf (juce::Slider::LinearHorizontal, juce::Slider::TextBoxLeft, 40, 20, 50, 20);
    EXPECT_EQ (narrow.textBoxBounds.getWidth(), 15);

    // A vertical slider with a side box is indented at top and bottom instead.
    const auto tv = thumbRadius (juce::Slider::LinearVertical, 100, 200);
    const auto vertical = layoutOf (juce::Slider::LinearVertical, juce::Slider::TextBoxRight, 100, 200, 40, 20);
    EXPECT_EQ (vertical.sliderBounds, juce::Rectangle<int> (0, tv, 100 - 45, 200 - 2 * tv));
}

TEST (KRLinearSliderLookAndFeel, BoxAboveBelowOrNoneKeepsTheFullWidth)
{
    const auto above = layoutOf (juce::Slider::LinearHorizontal, juce::Slider::TextBoxAbove, 200, 60, 50, 20);
    EXPECT_EQ (above.textBoxBounds, juce::Rectangle<int> (72, 0, 55, 20));
    EXPECT_EQ (above.sliderBounds, juce::Rectangle<int> (0, 20, 200, 40));

    const auto below = layoutOf (juce::Slider::LinearHorizontal, juce::Slider::TextBoxBelow, 200, 60, 50, 20);
    EXPECT_EQ (below.textBoxBounds, juce::Rectangle<int> (72, 40, 55, 20));
    EXPECT_EQ (below.sliderBounds, juce::Rectangle<int> (0, 0, 200, 40));

    // The progress bar: the track fills the whole component, no text box.
    const auto none = layoutOf (juce::Slider::LinearHorizontal, juce::Slider::NoTextBox, 227, 10, 0, 0);
    EXPECT_TRUE (none.textBoxBounds.isEmpty());
    EXPECT_EQ (none.sliderBounds, juce::Rectangle<int> (0, 0, 227, 10));

    const auto bar = layoutOf (juce::Slider::LinearBar, juce::Slider::TextBoxRight, 100, 20, 50, 20);
    EXPECT_EQ (bar.textBoxBounds, juce::Rectangle<int> (0, 0, 100, 20));
    EXPECT_EQ (bar.sliderBounds, juce::Rectangle<int> (1, 1, 98, 18));
}

TEST (KRLinearSliderLookAndFeel, TextBoxIsWhiteOnTransparent)
{
    KRLinearSliderLookAndFeel lookAndFeel;
    juce::Slider slider (juce::Slider::LinearHorizontal, juce::Slider::TextBoxBelow);
    const std::unique_ptr<juce::Label> label (lookAndFeel.createSliderTextBox (slider));

    EXPECT_EQ (label->findColour (juce::Label::textColourId), juce::Colour (0xffffffff));
    EXPECT_EQ (label->findColour (juce::Label::backgroundColourId), juce::Colour (0x00000000));
    EXPECT_EQ (label->findColour (juce::Label::outlineColourId), juce::Colour (0x00ffffff));
    EXPECT_EQ (label->findColour (juce::Label::outlineWhenEditingColourId), juce::Colour (0x00ffffff));
    EXPECT_EQ (label->getJustificationType(), juce::Justification::centred);
}

//==============================================================================
namespace
{
    juce::Image menuItem (int width, int height, bool separator, bool active, bool highlighted,
                          const juce::String& text = "Item")
    {
        KRLinearSliderLookAndFeel lookAndFeel;
        auto image = blankImage (width, height);
        juce::Graphics g (image);
        lookAndFeel.drawPopupMenuItem (g, { 0, 0, width, height }, separator, active, highlighted,
                                       false, false, text, {}, nullptr, nullptr);
        return image;
    }
}

TEST (KRLinearSliderLookAndFeel, PopupMenuHighlightOnlyForActiveItems)
{
    const juce::Colour highlight (KRLinearSliderLookAndFeel::menuHighlightColour);

    const auto activeHighlighted = menuItem (200, 20, false, true, true);
    EXPECT_EQ (activeHighlighted.getPixelAt (199, 0), highlight);
    EXPECT_EQ (activeHighlighted.getPixelAt (0, 19), highlight);

    // Highlighted but inactive: drawn like any inactive item, no background.
    const auto inactiveHighlighted = menuItem (200, 20, false, false, true);
    EXPECT_EQ (inactiveHighlighted.getPixelAt (199, 0).getAlpha(), 0);

    int maxAlpha = 0;

    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 200; ++x)
            maxAlpha = juce::jmax (maxAlpha, (int) inactiveHighlighted.getPixelAt (x, y).getAlpha());

    EXPECT_GT (maxAlpha, 0);
    EXPECT_LE (maxAlpha, 128);

    // An item narrower than high has no room for text at all.
    EXPECT_TRUE (isBlank (menuItem (10, 20, false, true, false, "WWWW")));
}

TEST (KRLinearSliderLookAndFeel, PopupSeparatorIsOnePixelAtTheRoundedMiddle)
{
    // Height 20: 9.5 rounds to 10; height 22: 10.5 rounds to 10 as well.
    for (auto [height, row] : { std::pair { 20, 10 }, { 22, 10 }, { 7, 3 } })
    {
        const auto image = menuItem (50, height, true, true, false);

        for (int y = 0; y < height; ++y)
        {
            EXPECT_EQ (image.getPixelAt (25, y).getAlpha(), y == row ? 0x4c : 0) << "height " << height << " row " << y;
        }

        EXPECT_EQ (image.getPixelAt (0, row).getAlpha(), 0);
        EXPECT_NE (image.getPixelAt (1, row).getAlpha(), 0);
        EXPECT_NE (image.getPixelAt (48, row).getAlpha(), 0);
        EXPECT_EQ (image.getPixelAt (49, row).getAlpha(), 0);
    }
}

//==============================================================================
namespace
{
    juce::MouseEvent mouseEventAt (juce::Component& component, juce::Point<float> position, bool dragged)
    {
        return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), position,
                                 juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier),
                                 juce::MouseInputSource::defaultPressure, 0.0f, 0.0f, 0.0f, 0.0f,
                                 &component, &component, juce::Time::getCurrentTime(),
                                 { 10.0f, 5.0f }, juce::Time::getCurrentTime(), 1, dragged);
    }

    template <typename SliderType>
    double valueAfterMouse (SliderType& slider)
    {
        slider.setSliderStyle (juce::Slider::LinearHorizontal);
        slider.setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
        slider.setRange (0.0, 1.0, 0.0);
        slider.setBounds (0, 0, 227, 10);
        slider.setValue (0.25, juce::dontSendNotification);

        slider.mouseEnter (mouseEventAt (slider, { 10.0f, 5.0f }, false));
        slider.mouseMove (mouseEventAt (slider, { 10.0f, 5.0f }, false));
        slider.mouseDown (mouseEventAt (slider, { 10.0f, 5.0f }, false));
        slider.mouseDrag (mouseEventAt (slider, { 200.0f, 5.0f }, true));
        slider.mouseUp (mouseEventAt (slider, { 200.0f, 5.0f }, true));
        slider.mouseExit (mouseEventAt (slider, { 200.0f, 5.0f }, false));

        juce::MouseWheelDetails wheel {};
        wheel.deltaY = 1.0f;
        slider.mouseWheelMove (mouseEventAt (slider, { 100.0f, 5.0f }, false), wheel);

        return slider.getValue();
    }
}

TEST (KRSliderL, IgnoresClicksDragsAndTheWheel)
{
    // The same gestures move an ordinary slider, so they would be seen.
    juce::Slider ordinary;
    EXPECT_NE (valueAfterMouse (ordinary), 0.25);

    KRSliderL progress;
    EXPECT_EQ (valueAfterMouse (progress), 0.25);
}
