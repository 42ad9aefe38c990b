#include <gtest/gtest.h>

#include "tests/support/AppTesting.h"
#include "ui/DefaultLookAndFeel.h"
#include "ui/KRAlertWindowLookAndFeel.h"
#include "ui/KRLinearSliderLookAndFeel.h"

TEST (LookAndFeels, TheProgressFillRunsFromTwoPixelsInsideTheTrackToWidthMinusEightHeldToItsRange)
{
    const auto slider = [] (int x, int y, int width, int height, float position)
    {
        juce::Slider component;
        return drawn (x + width + 10, y + height + 10, [&] (juce::Graphics& g) { KRLinearSliderLookAndFeel().drawLinearSlider (g, x, y, width, height, position, 0, 0, juce::Slider::LinearHorizontal, component); });
    };

    EXPECT_TRUE (samePixels (slider (0, 0, 227, 10, 0.0f), drawn (237, 20, [] (juce::Graphics& g) { g.drawImage (resourceImage ("progress_track_png"), 0, 0, 227, 10, 0, 0, 448, 20); })));

    const struct { int x, y, width, height; float proportion; juce::Rectangle<int> fill; } cases[] = {
        { 0, 0, 227, 10, 1.0f, { 2, 2, 219, 6 } }, { 0, 0, 227, 10, 0.5f, { 2, 2, 109, 6 } }, { 20, 10, 100, 20, 1.0f, { 22, 12, 92, 16 } },
        { 0, 0, 227, 10, 3.0f, { 2, 2, 219, 6 } }, { 0, 0, 227, 10, -1.0f, {} }, { 0, 0, 7, 10, 1.0f, {} }, { 0, 0, 100, 3, 1.0f, {} }, { 0, 0, 0, 10, 1.0f, {} } };

    for (const auto& c : cases)
    {
        const auto empty = slider (c.x, c.y, c.width, c.height, (float) c.x);
        const auto filled = slider (c.x, c.y, c.width, c.height, (float) c.x + c.proportion * (float) c.width);
        EXPECT_EQ (boundsOfPixels (filled, [&empty] (juce::Colour p, int x, int y) { return p != empty.getPixelAt (x, y); }), c.fill) << c.width << " x " << c.height << " at " << c.proportion;
    }
}

TEST (LookAndFeels, AlertTextStartsAtXOneOrEightyOneAndYTenUnderALineAtY40AndAZeroHeightBarDrawsNoStripes)
{
    juce::TextLayout text, none;
    text.createLayout (juce::AttributedString ("IIII IIII IIII"), 300.0f);
    const juce::Colour background (0xff27282b);
    const auto box = [&background] (juce::MessageBoxIconType icon, juce::TextLayout& layout)
    {
        juce::AlertWindow alert ("Title", "Message", icon);
        alert.setColour (juce::AlertWindow::backgroundColourId, background);
        alert.setSize (400, 200);
        return drawn (400, 200, [&] (juce::Graphics& g) { KRAlertWindowLookAndFeel().drawAlertBox (g, alert, { 0, 0, 300, 100 }, layout); });
    };

    for (const auto& [icon, x] : { std::pair { juce::MessageBoxIconType::NoIcon, 1.0f }, { juce::MessageBoxIconType::WarningIcon, 81.0f } })
        EXPECT_TRUE (samePixels (box (icon, text), drawn (400, 200, [&] (juce::Graphics& g) { g.drawImageAt (box (icon, none), 0, 0); text.draw (g, { x, 10.0f, 300.0f, 100.0f }); })));

    // The 1 px line is centred on y 40 and runs from x 10 to 20 px short of the right edge.
    const auto inside = [&background] (juce::Colour p, int x, int y) { return p != background && juce::Rectangle<int> (5, 5, 390, 190).contains (x, y); };
    EXPECT_EQ (boundsOfPixels (box (juce::MessageBoxIconType::NoIcon, none), inside), juce::Rectangle<int> (10, 39, 370, 2));

    double value = -1.0;
    juce::ProgressBar bar (value);
    bar.setBounds (0, 0, 100, 10);
    EXPECT_EQ (drawn (100, 10, [&bar] (juce::Graphics& g) { KRAlertWindowLookAndFeel().drawProgressBar (g, bar, 100, 0, -1.0, {}); }).getPixelAt (50, 5),
               juce::Colour (KRAlertWindowLookAndFeel::barBackgroundColour));
}

TEST (LookAndFeels, TheBoldFaceOnlyForTheWordBold)
{
    DefaultLookAndFeel lookAndFeel;
    EXPECT_EQ (lookAndFeel.getTypefaceForFont (juce::Font (12.0f)), nullptr);   // until the owner fills it
    lookAndFeel.boldTypeface = new juce::CustomTypeface(), lookAndFeel.regularTypeface = new juce::CustomTypeface();

    for (const auto& [style, bold] : { std::pair { "Bold", true }, { "bold Italic", true }, { "Extra-Bold", true }, { "SemiBold", false }, { "Bolder", false }, { "Italic", false } })
        EXPECT_EQ (lookAndFeel.getTypefaceForFont (juce::Font ("Any", style, 12.0f)), bold ? lookAndFeel.boldTypeface : lookAndFeel.regularTypeface) << style;
}
