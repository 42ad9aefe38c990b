#include "ui/KRAlertWindowLookAndFeel.h"

namespace
{
    juce::Font plainFont (float height)
    {
        return juce::Font (height);
    }
}

KRAlertWindowLookAndFeel::~KRAlertWindowLookAndFeel() = default;

//==============================================================================
void KRAlertWindowLookAndFeel::drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour&,
                                                     bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    // The area reaches 5 px below the button, so only its upper corners show rounded.
    const juce::Rectangle<float> area (0.0f, 0.0f, (float) (button.getWidth() - 1), (float) (button.getHeight() + 5));

    if (area.getWidth() <= 0.0f || area.getHeight() <= 0.0f)
        return;

    // Every button starts from the same flat grey, whatever colour it was given.
    auto colour = juce::Colour (buttonColour)
                      .withMultipliedSaturation (button.hasKeyboardFocus (true) ? 1.3f : 0.9f)
                      .withMultipliedAlpha (button.isEnabled() ? 1.0f : 0.5f);

    if (shouldDrawButtonAsDown)
        colour = colour.contrasting (0.2f);
    else if (shouldDrawButtonAsHighlighted)
        colour = colour.contrasting (0.05f);

    g.setColour (colour);
    g.fillRoundedRectangle (area, 1.0f);
}

juce::Font KRAlertWindowLookAndFeel::getTextButtonFont (juce::TextButton&, int) { return plainFont (14.0f); }

//==============================================================================
void KRAlertWindowLookAndFeel::drawAlertBox (juce::Graphics& g, juce::AlertWindow& alert,
                                             const juce::Rectangle<int>& textArea, juce::TextLayout& textLayout)
{
    const auto width = alert.getWidth();
    const auto height = alert.getHeight();
    const juce::Rectangle<int> bounds (1, 1, juce::jmax (0, width - 2), juce::jmax (0, height - 2));
    const auto buttonHeight = getAlertWindowButtonHeight();

    g.setColour (juce::Colour (outlineColour));
    g.drawRoundedRectangle (0.0f, 0.0f, (float) width, (float) height, 4.0f, 2.0f);

    g.reduceClipRegion (bounds);

    g.setColour (alert.findColour (juce::AlertWindow::backgroundColourId));
    g.fillRoundedRectangle (bounds.toFloat(), 4.0f);

    // The separator under the title.
    g.setColour (juce::Colour (separatorColour));
    g.drawLine (10.0f, (float) buttonHeight, (float) (width - 20), (float) buttonHeight, 1.0f);

    auto iconSize = juce::jmin (130, bounds.getHeight() + 20);

    if (alert.containsAnyExtraComponents() || alert.getNumButtons() > 2)
        iconSize = juce::jmin (iconSize, textArea.getHeight() + 50);

    auto iconSpace = 0;

    if (alert.getAlertType() != juce::AlertWindow::NoIcon)
    {
        drawAlertIcon (g, alert, iconSize);
        iconSpace = 80;
    }

    g.setColour (alert.findColour (juce::AlertWindow::textColourId));
    textLayout.draw (g, juce::Rectangle<int> (1 + iconSpace, 10, bounds.getWidth(),
                                              bounds.getHeight() - buttonHeight - 20).toFloat());
}

void KRAlertWindowLookAndFeel::drawAlertIcon (juce::Graphics& g, juce::AlertWindow& alert, int iconSize)
{
    // The icon is pushed up and left out of the window, as a watermark behind the text.
    const auto offset = iconSize / -10;
    const juce::Rectangle<int> iconRect (offset, offset, iconSize, iconSize);
    const auto isWarning = alert.getAlertType() == juce::AlertWindow::WarningIcon;

    juce::Path icon;
    juce::String character;

    if (isWarning)
    {
        icon.addTriangle ((float) iconRect.getX() + (float) iconSize * 0.5f, (float) iconRect.getY(),
                          (float) iconRect.getRight(), (float) iconRect.getBottom(),
                          (float) iconRect.getX(), (float) iconRect.getBottom());
        icon = icon.createPathWithRoundedCorners (5.0f);
        character = "!";
    }
    else
    {
        icon.addEllipse (iconRect.toFloat());
        character = alert.getAlertType() == juce::AlertWindow::InfoIcon ? "i" : "?";
    }

    // The character's outline cuts a hole into the shape.
    juce::GlyphArrangement glyphs;
    glyphs.addFittedText (juce::Font ((float) iconSize * 0.9f, juce::Font::bold), character,
                          (float) iconRect.getX(), (float) iconRect.getY(),
                          (float) iconRect.getWidth(), (float) iconRect.getHeight(),
                          juce::Justification::centred, 1);
    glyphs.createPath (icon);

    icon.setUsingNonZeroWinding (false);
    g.setColour (juce::Colour (isWarning ? warningIconColour : otherIconColour));
    g.fillPath (icon);
}

juce::Font KRAlertWindowLookAndFeel::getAlertWindowTitleFont()   { return plainFont (16.0f); }
juce::Font KRAlertWindowLookAndFeel::getAlertWindowMessageFont() { return plainFont (14.0f); }
juce::Font KRAlertWindowLookAndFeel::getAlertWindowFont()        { return plainFont (14.0f); }

//==============================================================================
void KRAlertWindowLookAndFeel::drawProgressBar (juce::Graphics& g, juce::ProgressBar& bar, int width, int height,
                                                double progress, const juce::String& textToShow)
{
    if (width == height)
        drawCircularProgressBar (g, bar, textToShow);
    else
        drawLinearProgressBar (g, bar, width, height, progress, textToShow);
}

void KRAlertWindowLookAndFeel::drawCircularProgressBar (juce::Graphics& g, juce::ProgressBar& bar,
                                                        const juce::String& textToShow)
{
    const juce::Rectangle<float> r (2.0f, 2.0f,
                                    (float) juce::jmax (0, bar.getWidth() - 4),
                                    (float) juce::jmax (0, bar.getHeight() - 4));
    const auto centre = r.getCentre();
    const auto radiusX = r.getWidth() * 0.5f;
    const auto radiusY = r.getHeight() * 0.5f;

    // The arc's phase and length follow the clock, not the progress value.
    const auto rotation = (int) ((juce::Time::getMillisecondCounter() / 10) % 360);
    const auto normalised = (float) rotation / 360.0f;

    auto startDegrees = (float) rotation;
    auto endDegrees = startDegrees + 22.5f;

    if (normalised >= 0.25f && normalised < 0.5f)
    {
        endDegrees = startDegrees + 22.5f + 315.0f * (normalised * 4.0f - 1.0f);
    }
    else if (normalised >= 0.5f && normalised <= 1.0f)
    {
        endDegrees = startDegrees + 22.5f + 315.0f;
        startDegrees = endDegrees - 22.5f - 315.0f * (1.0f - (normalised * 2.0f - 1.0f));
    }

    juce::Path track;
    track.addCentredArc (centre.x, centre.y, radiusX, radiusY, 0.0f, 0.0f, juce::MathConstants<float>::twoPi, true);
    g.setColour (bar.findColour (juce::ProgressBar::backgroundColourId));
    g.strokePath (track, juce::PathStrokeType (4.0f));

    juce::Path arc;
    arc.addCentredArc (centre.x, centre.y, radiusX, radiusY, 0.0f,
                       juce::degreesToRadians (startDegrees), juce::degreesToRadians (endDegrees), true);
    arc.applyTransform (juce::AffineTransform::rotation (normalised * juce::MathConstants<float>::pi * 2.25f,
                                                         centre.x, centre.y));
    g.setColour (bar.findColour (juce::ProgressBar::foregroundColourId));
    g.strokePath (arc, juce::PathStrokeType (4.0f));

    if (textToShow.isNotEmpty())
    {
        g.setColour (bar.findColour (juce::TextButton::textColourOffId));
        g.setFont (juce::Font (12.0f, juce::Font::italic));
        g.drawText (textToShow, r, juce::Justification::centred, false);
    }
}

void KRAlertWindowLookAndFeel::drawLinearProgressBar (juce::Graphics& g, juce::ProgressBar& bar, int width, int height,
                                                      double progress, const juce::String& textToShow)
{
    const auto barArea = bar.getLocalBounds().toFloat();
    const auto cornerSize = barArea.getHeight() * 0.5f;

    g.setColour (juce::Colour (barBackgroundColour));
    g.fillRoundedRectangle (barArea, cornerSize);

    if (progress >= 0.0 && progress <= 1.0)
    {
        juce::Path outline;
        outline.addRoundedRectangle (barArea, cornerSize);
        g.reduceClipRegion (outline);

        g.setColour (juce::Colour (barFillColour));
        g.fillRoundedRectangle (barArea.withWidth (barArea.getWidth() * (float) progress), cornerSize);
    }
    else if (width > 0 && height > 0)
    {
        // Unknown progress: stripes twice the height apart, moving with the clock.
        const auto stripeWidth = 2 * height;
        const auto phase = (int) ((juce::Time::getMillisecondCounter() / 15) % (juce::uint32) stripeWidth);
        const auto halfStripe = (float) stripeWidth * 0.5f;

        juce::Path stripes;

        for (auto x = (float) -phase; x < (float) (width + stripeWidth); x += (float) stripeWidth)
            stripes.addQuadrilateral (x, 0.0f,
                                      x + halfStripe, 0.0f,
                                      x, (float) height,
                                      x - halfStripe, (float) height);

        juce::Image fill (juce::Image::ARGB, width, height, true);

        {
            juce::Graphics fillGraphics (fill);
            fillGraphics.setColour (juce::Colour (barFillColour));
            fillGraphics.fillRoundedRectangle (barArea, cornerSize);
        }

        g.setTiledImageFill (fill, 0, 0, 0.85f);
        g.fillPath (stripes);
    }

    if (textToShow.isNotEmpty())
    {
        g.setColour (juce::Colour::contrasting (juce::Colour (barBackgroundColour), juce::Colour (barFillColour)));
        g.setFont ((float) height * 0.8f);
        g.drawText (textToShow, 0, 0, width, height, juce::Justification::centred, false);
    }
}
