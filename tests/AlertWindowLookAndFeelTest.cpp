#include <gtest/gtest.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include "ui/KRAlertWindowLookAndFeel.h"

namespace
{
    const juce::Colour alertBackground (0xff27282b);
    const juce::Colour textColour (0xff00ff00);

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

    // Bounding box of the pixels that satisfy a test.
    juce::Rectangle<int> inkBounds (const juce::Image& image, std::function<bool (juce::Colour)> isInk)
    {
        juce::Rectangle<int> bounds;
        bool found = false;

        for (int y = 0; y < image.getHeight(); ++y)
        {
            for (int x = 0; x < image.getWidth(); ++x)
            {
                if (isInk (image.getPixelAt (x, y)))
                {
                    const juce::Rectangle<int> pixel (x, y, 1, 1);
                    bounds = found ? bounds.getUnion (pixel) : pixel;
                    found = true;
                }
            }
        }

        return bounds;
    }

    // Mostly covered pixels of the green test text; no icon or line colour gets near.
    bool isGreenText (juce::Colour c)
    {
        return c.getGreen() > 180;
    }

    juce::TextLayout textLayoutOf (const juce::String& text)
    {
        juce::AttributedString string;
        string.append (text, juce::Font (16.0f), textColour);

        juce::TextLayout layout;
        layout.createLayout (string, 300.0f);
        return layout;
    }

    // An alert of a fixed size, drawn by the look-and-feel alone.
    struct AlertDrawing
    {
        AlertDrawing (juce::MessageBoxIconType icon, int numButtons, int width = 400, int height = 200)
            : alert ("Title", "Message", icon)
        {
            for (int i = 0; i < numButtons; ++i)
                alert.addButton ("Button " + juce::String (i), i);

            alert.setColour (juce::AlertWindow::backgroundColourId, alertBackground);
            alert.setColour (juce::AlertWindow::textColourId, textColour);
            alert.setSize (width, height);
        }

        juce::Image draw (juce::TextLayout layout, juce::Rectangle<int> textArea = { 0, 0, 300, 100 })
        {
            auto image = blankImage (alert.getWidth(), alert.getHeight());
            juce::Graphics g (image);
            lookAndFeel.drawAlertBox (g, alert, textArea, layout);
            return image;
        }

        KRAlertWindowLookAndFeel lookAndFeel;
        juce::AlertWindow alert;
    };
}

//==============================================================================
TEST (KRAlertWindowLookAndFeel, TextStartsAtXOneWithoutIconAndEightyOneWithOne)
{
    const auto layout = textLayoutOf ("IIII IIII IIII IIII IIII");

    // Where the layout's ink lies when drawn at the origin.
    auto reference = blankImage (400, 200);
    {
        juce::Graphics g (reference);
        g.fillAll (alertBackground);
        layout.draw (g, { 0.0f, 0.0f, 400.0f, 200.0f });
    }
    const auto origin = inkBounds (reference, isGreenText);
    ASSERT_FALSE (origin.isEmpty());

    AlertDrawing plain (juce::MessageBoxIconType::NoIcon, 2);
    EXPECT_EQ (inkBounds (plain.draw (layout), isGreenText), origin.translated (1, 10));

    // Over the translucent icon the text's first column may blend differently: compare
    // the right end and the rows exactly, the left edge to a pixel.
    for (auto icon : { juce::MessageBoxIconType::WarningIcon, juce::MessageBoxIconType::InfoIcon,
                       juce::MessageBoxIconType::QuestionIcon })
    {
        AlertDrawing withIcon (icon, 2);
        const auto ink = inkBounds (withIcon.draw (layout), isGreenText);
        const auto expected = origin.translated (81, 10);

        EXPECT_EQ (ink.getRight(), expected.getRight()) << (int) icon;
        EXPECT_EQ (ink.getY(), expected.getY()) << (int) icon;
        EXPECT_EQ (ink.getBottom(), expected.getBottom()) << (int) icon;
        EXPECT_NEAR (ink.getX(), expected.getX(), 1) << (int) icon;
    }
}

TEST (KRAlertWindowLookAndFeel, OutlineFillAndSeparatorAtY40)
{
    AlertDrawing drawing (juce::MessageBoxIconType::NoIcon, 2);
    const auto image = drawing.draw (juce::TextLayout());

    // Inside: the alert's own background colour.
    EXPECT_EQ (image.getPixelAt (200, 100), alertBackground);
    EXPECT_EQ (image.getPixelAt (200, 190), alertBackground);

    // The 1 px separator is centred on y 40, so it half covers rows 39 and 40.
    const auto separator = juce::Colour (KRAlertWindowLookAndFeel::separatorColour);
    const auto halfway = alertBackground.interpolatedWith (separator, 0.5f);

    for (auto x : { 11, 200, 378 })
    {
        EXPECT_NEAR (image.getPixelAt (x, 39).getRed(), halfway.getRed(), 2) << x;
        EXPECT_NEAR (image.getPixelAt (x, 40).getRed(), halfway.getRed(), 2) << x;
        EXPECT_EQ (image.getPixelAt (x, 38), alertBackground) << x;
        EXPECT_EQ (image.getPixelAt (x, 41), alertBackground) << x;
    }

    // It runs from x 10 to 20 px short of the right edge.
    EXPECT_EQ (image.getPixelAt (8, 40), alertBackground);
    EXPECT_EQ (image.getPixelAt (381, 40), alertBackground);
}

TEST (KRAlertWindowLookAndFeel, IconShrinksWithThreeButtonsOrExtraComponents)
{
    const auto isIcon = [] (juce::Colour c) { return c.getRed() > alertBackground.getRed() + 40; };

    AlertDrawing twoButtons (juce::MessageBoxIconType::WarningIcon, 2, 400, 300);
    const auto large = inkBounds (twoButtons.draw (juce::TextLayout(), { 0, 0, 300, 10 }), isIcon);

    AlertDrawing threeButtons (juce::MessageBoxIconType::WarningIcon, 3, 400, 300);
    const auto small = inkBounds (threeButtons.draw (juce::TextLayout(), { 0, 0, 300, 10 }), isIcon);

    AlertDrawing extra (juce::MessageBoxIconType::WarningIcon, 2, 400, 300);
    extra.alert.addTextEditor ("field", "text");
    extra.alert.setSize (400, 300);
    const auto withEditor = inkBounds (extra.draw (juce::TextLayout(), { 0, 0, 300, 10 }), isIcon);

    // 130 px at most; with more than two buttons or an extra component, text height + 50 = 60.
    // The icon starts a tenth of its size above and left of the window.
    EXPECT_NEAR (large.getBottom(), 130 - 13, 2);
    EXPECT_NEAR (small.getBottom(), 60 - 6, 2);
    EXPECT_NEAR (withEditor.getBottom(), 60 - 6, 2);
}

//==============================================================================
namespace
{
    juce::Image buttonBackground (juce::TextButton& button, bool highlighted, bool down,
                                  juce::Colour given = juce::Colours::red)
    {
        KRAlertWindowLookAndFeel lookAndFeel;
        auto image = blankImage (juce::jmax (1, button.getWidth()), button.getHeight());
        juce::Graphics g (image);
        lookAndFeel.drawButtonBackground (g, button, given, highlighted, down);
        return image;
    }

    const juce::Colour flatGrey = juce::Colour (KRAlertWindowLookAndFeel::buttonColour).withMultipliedSaturation (0.9f);
}

TEST (KRAlertWindowLookAndFeel, ButtonIsFlatGreyWhateverColourItIsGiven)
{
    juce::TextButton button ("OK");
    button.setBounds (0, 0, 80, 30);

    for (auto given : { juce::Colours::red, juce::Colours::white })
    {
        const auto image = buttonBackground (button, false, false, given);
        EXPECT_EQ (image.getPixelAt (40, 15), flatGrey);

        // Square bottom corners, one free column on the right.
        EXPECT_EQ (image.getPixelAt (0, 29), flatGrey);
        EXPECT_EQ (image.getPixelAt (78, 29), flatGrey);
        EXPECT_EQ (image.getPixelAt (79, 15).getAlpha(), 0);
        EXPECT_LT (image.getPixelAt (0, 0).getAlpha(), 255);
    }
}

TEST (KRAlertWindowLookAndFeel, PressedBeatsHighlightedAndDisabledIsHalfTransparent)
{
    juce::TextButton button ("OK");
    button.setBounds (0, 0, 80, 30);

    EXPECT_EQ (buttonBackground (button, true, false).getPixelAt (40, 15), flatGrey.contrasting (0.05f));
    EXPECT_EQ (buttonBackground (button, false, true).getPixelAt (40, 15), flatGrey.contrasting (0.2f));
    EXPECT_EQ (buttonBackground (button, true, true).getPixelAt (40, 15), flatGrey.contrasting (0.2f));

    // Disabled through its parent, highlighted or not.
    juce::Component parent;
    parent.addAndMakeVisible (button);
    parent.setEnabled (false);

    EXPECT_NEAR (buttonBackground (button, false, false).getPixelAt (40, 15).getAlpha(), 128, 1);

    // The highlight's contrast overlay adds only its own 5 % on top of the half alpha.
    const auto highlightedAlpha = buttonBackground (button, true, false).getPixelAt (40, 15).getAlpha();
    EXPECT_GE (highlightedAlpha, 127);
    EXPECT_LE (highlightedAlpha, 136);
}

TEST (KRAlertWindowLookAndFeel, ButtonOnePixelWideDrawsNothing)
{
    juce::TextButton button ("OK");
    button.setBounds (0, 0, 1, 30);
    EXPECT_TRUE (isBlank (buttonBackground (button, true, true)));

    button.setBounds (0, 0, 0, 30);
    EXPECT_TRUE (isBlank (buttonBackground (button, false, false)));
}

//==============================================================================
namespace
{
    juce::Image progressBarImage (juce::ProgressBar& bar, double progress, int width, int height)
    {
        KRAlertWindowLookAndFeel lookAndFeel;
        auto image = blankImage (juce::jmax (1, bar.getWidth()), juce::jmax (1, bar.getHeight()));
        juce::Graphics g (image);
        lookAndFeel.drawProgressBar (g, bar, width, height, progress, {});
        return image;
    }
}

TEST (KRAlertWindowLookAndFeel, LinearBarIsGoldOnDarkAndIgnoresTheBarsColours)
{
    double value = 0.5;
    juce::ProgressBar bar (value);
    bar.setColour (juce::ProgressBar::backgroundColourId, juce::Colours::blue);
    bar.setColour (juce::ProgressBar::foregroundColourId, juce::Colours::red);
    bar.setBounds (0, 0, 200, 20);

    const auto half = progressBarImage (bar, 0.5, 200, 20);
    EXPECT_EQ (half.getPixelAt (50, 10), juce::Colour (KRAlertWindowLookAndFeel::barFillColour));
    EXPECT_EQ (half.getPixelAt (150, 10), juce::Colour (KRAlertWindowLookAndFeel::barBackgroundColour));
    EXPECT_EQ (half.getPixelAt (0, 0).getAlpha(), 0); // rounded ends

    // Unknown progress: stripes, partly gold, partly the dark track.
    const auto stripes = progressBarImage (bar, -1.0, 200, 20);
    int goldish = 0, dark = 0;

    for (int x = 10; x < 190; ++x)
    {
        const auto c = stripes.getPixelAt (x, 10);
        goldish += c.getRed() > 0x90 ? 1 : 0;
        dark += c == juce::Colour (KRAlertWindowLookAndFeel::barBackgroundColour) ? 1 : 0;
    }

    EXPECT_GT (goldish, 40);
    EXPECT_GT (dark, 40);
}

TEST (KRAlertWindowLookAndFeel, SquareBarSpinsInTheBarsOwnColours)
{
    double value = 0.5;
    juce::ProgressBar bar (value);
    bar.setColour (juce::ProgressBar::backgroundColourId, juce::Colours::blue);
    bar.setColour (juce::ProgressBar::foregroundColourId, juce::Colours::red);
    bar.setBounds (0, 0, 40, 40);

    // Even with a known progress the square bar shows the ring, never the linear fill.
    const auto image = progressBarImage (bar, 0.5, 40, 40);
    EXPECT_EQ (image.getPixelAt (20, 20).getAlpha(), 0);

    int blue = 0, red = 0;

    for (int y = 0; y < 40; ++y)
    {
        for (int x = 0; x < 40; ++x)
        {
            const auto c = image.getPixelAt (x, y);
            blue += c == juce::Colours::blue ? 1 : 0;
            red += c == juce::Colours::red ? 1 : 0;
            EXPECT_NE (c, juce::Colour (KRAlertWindowLookAndFeel::barFillColour));
        }
    }

    EXPECT_GT (blue, 20);
    EXPECT_GT (red, 0);
}

TEST (KRAlertWindowLookAndFeel, StripesWithZeroHeightDrawNoStripes)
{
    double value = -1.0;
    juce::ProgressBar bar (value);
    bar.setBounds (0, 0, 100, 10);

    // A direct call with height 0 must not divide by the zero stripe width.
    const auto image = progressBarImage (bar, -1.0, 100, 0);
    EXPECT_EQ (image.getPixelAt (50, 5), juce::Colour (KRAlertWindowLookAndFeel::barBackgroundColour));
}
