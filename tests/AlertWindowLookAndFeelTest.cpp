#include <gtest/gtest.h>

#include "tests/support/PageTesting.h"
#include "ui/KRAlertWindowLookAndFeel.h"

namespace
{
    const juce::Colour alertBackground (0xff27282b);

    // Bounding box of the pixels that pass a test.
    juce::Rectangle<int> inkBounds (const juce::Image& image, const std::function<bool (juce::Colour)>& isInk)
    {
        juce::Rectangle<int> bounds;

        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                if (isInk (image.getPixelAt (x, y)))
                    bounds = bounds.isEmpty() ? juce::Rectangle<int> (x, y, 1, 1) : bounds.getUnion ({ x, y, 1, 1 });

        return bounds;
    }

    // Mostly covered pixels of the green test text; no icon or line colour gets near.
    bool isGreenText (juce::Colour c)     { return c.getGreen() > 180; }

    juce::Image drawAlert (juce::MessageBoxIconType icon, juce::TextLayout layout)
    {
        KRAlertWindowLookAndFeel lookAndFeel;
        juce::AlertWindow alert ("Title", "Message", icon);

        alert.addButton ("OK", 1);
        alert.addButton ("Cancel", 0);

        alert.setColour (juce::AlertWindow::backgroundColourId, alertBackground);
        alert.setColour (juce::AlertWindow::textColourId, juce::Colour (0xff00ff00));
        alert.setSize (400, 200);

        auto image = blankImage (400, 200);
        juce::Graphics g (image);
        lookAndFeel.drawAlertBox (g, alert, { 0, 0, 300, 100 }, layout);
        return image;
    }
}

TEST (KRAlertWindowLookAndFeel, TextStartsAtXOneWithoutIconAndEightyOneWithOne)
{
    juce::AttributedString string;
    string.append ("IIII IIII IIII IIII IIII", juce::Font (16.0f), juce::Colour (0xff00ff00));
    juce::TextLayout layout;
    layout.createLayout (string, 300.0f);

    // Where the layout's ink lies when drawn at the origin.
    auto reference = blankImage (400, 200);
    {
        juce::Graphics g (reference);
        g.fillAll (alertBackground);
        layout.draw (g, { 0.0f, 0.0f, 400.0f, 200.0f });
    }
    const auto origin = inkBounds (reference, isGreenText);
    ASSERT_FALSE (origin.isEmpty());

    // Over the translucent icon the text's first column may blend differently: its left edge to a pixel.
    for (auto [icon, x] : { std::pair { juce::MessageBoxIconType::NoIcon, 1 }, { juce::MessageBoxIconType::WarningIcon, 81 },
                            { juce::MessageBoxIconType::InfoIcon, 81 }, { juce::MessageBoxIconType::QuestionIcon, 81 } })
    {
        const auto ink = inkBounds (drawAlert (icon, layout), isGreenText);
        const auto expected = origin.translated (x, 10);

        EXPECT_EQ (ink.withLeft (expected.getX()), expected) << (int) icon;
        EXPECT_NEAR (ink.getX(), expected.getX(), x == 1 ? 0 : 1) << (int) icon;
    }
}

TEST (KRAlertWindowLookAndFeel, BackgroundAndSeparatorAtY40)
{
    const auto image = drawAlert (juce::MessageBoxIconType::NoIcon, {});
    EXPECT_EQ (image.getPixelAt (200, 100), alertBackground);

    // The 1 px separator is centred on y 40, so it half covers rows 39 and 40.
    const auto halfway = alertBackground.interpolatedWith (juce::Colour (KRAlertWindowLookAndFeel::separatorColour), 0.5f);

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

TEST (KRAlertWindowLookAndFeel, ButtonIsFlatGreyWhateverItsColourDarkerWhenPressedFadedWhenDisabled)
{
    const auto flatGrey = juce::Colour (KRAlertWindowLookAndFeel::buttonColour).withMultipliedSaturation (0.9f);
    juce::TextButton button ("OK");

    const auto paint = [&button] (bool highlighted, bool down, juce::Colour given = juce::Colours::red)
    {
        KRAlertWindowLookAndFeel lookAndFeel;
        auto image = blankImage (juce::jmax (1, button.getWidth()), button.getHeight());
        juce::Graphics g (image);
        lookAndFeel.drawButtonBackground (g, button, given, highlighted, down);
        return image;
    };

    // A button 1 px wide or less has no room for a background.
    for (auto width : { 0, 1 })
    {
        button.setBounds (0, 0, width, 30);
        EXPECT_TRUE (isBlank (paint (true, true))) << width;
    }

    button.setBounds (0, 0, 80, 30);

    for (auto given : { juce::Colours::red, juce::Colours::white })
    {
        const auto image = paint (false, false, given);
        EXPECT_EQ (image.getPixelAt (40, 15), flatGrey);
        EXPECT_EQ (image.getPixelAt (0, 29), flatGrey);        // square bottom corners
        EXPECT_EQ (image.getPixelAt (79, 15).getAlpha(), 0);   // one free column on the right
    }

    EXPECT_EQ (paint (true, false).getPixelAt (40, 15), flatGrey.contrasting (0.05f));
    EXPECT_EQ (paint (false, true).getPixelAt (40, 15), flatGrey.contrasting (0.2f));
    EXPECT_EQ (paint (true, true).getPixelAt (40, 15), flatGrey.contrasting (0.2f));

    // Disabled through its parent, highlighted or not: half alpha, plus at most the highlight's own 5 %.
    juce::Component parent;
    parent.addAndMakeVisible (button);
    parent.setEnabled (false);
    EXPECT_NEAR (paint (false, false).getPixelAt (40, 15).getAlpha(), 128, 1);
    EXPECT_NEAR (paint (true, false).getPixelAt (40, 15).getAlpha(), 131, 5);
}

TEST (KRAlertWindowLookAndFeel, StripesOfAZeroHeightBarDrawNoStripes)
{
    double value = -1.0;
    juce::ProgressBar bar (value);
    bar.setBounds (0, 0, 100, 10);

    // The stripe width is twice the height: a direct call with height 0 must not divide by it.
    KRAlertWindowLookAndFeel lookAndFeel;
    auto image = blankImage (100, 10);
    juce::Graphics g (image);
    lookAndFeel.drawProgressBar (g, bar, 100, 0, -1.0, {});
    EXPECT_EQ (image.getPixelAt (50, 5), juce::Colour (KRAlertWindowLookAndFeel::barBackgroundColour));
}
