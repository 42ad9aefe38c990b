#include "artwork/ArtworkCanvas.h"

namespace
{
    bool isWide (juce::juce_wchar c)
    {
        return (c >= 0x2e80 && c <= 0x9fff) || (c >= 0xff00 && c <= 0xffef) || (c >= 0x3000 && c <= 0x303f);
    }

    bool isClosingPunctuation (juce::juce_wchar c)
    {
        return juce::String (juce::CharPointer_UTF8 ("，。、：；！？）》」,.:;!?)")).containsChar (c);
    }

    struct Token
    {
        juce::String text;
        bool spaceBefore = false;
    };

    std::vector<Token> tokenise (const juce::String& text)
    {
        std::vector<Token> tokens;
        bool pendingSpace = false;
        bool inWord = false;

        for (auto p = text.getCharPointer(); ! p.isEmpty();)
        {
            const auto c = p.getAndAdvance();

            if (c == ' ')
            {
                pendingSpace = true;
                inWord = false;
            }
            else if (isClosingPunctuation (c) && ! tokens.empty() && ! pendingSpace)
            {
                tokens.back().text += juce::String::charToString (c);
            }
            else if (isWide (c))
            {
                tokens.push_back ({ juce::String::charToString (c), pendingSpace });
                pendingSpace = false;
                inWord = false;
            }
            else if (inWord)
            {
                tokens.back().text += juce::String::charToString (c);
            }
            else
            {
                tokens.push_back ({ juce::String::charToString (c), pendingSpace });
                pendingSpace = false;
                inWord = true;
            }
        }

        return tokens;
    }
}

ArtworkCanvas::ArtworkCanvas (int width, int height, juce::Typeface::Ptr face)
    : image (juce::Image::ARGB, width, height, true),
      g (std::make_unique<juce::Graphics> (image)),
      typeface (std::move (face))
{
    g->setImageResamplingQuality (juce::Graphics::highResamplingQuality);
}

juce::Font ArtworkCanvas::font (float height) const
{
    return juce::Font (typeface).withHeight (height);
}

void ArtworkCanvas::fillPageGround()
{
    const auto bounds = image.getBounds().toFloat();

    g->setGradientFill (juce::ColourGradient::vertical (Palette::groundTop, 0.0f, Palette::groundBottom, bounds.getBottom()));
    g->fillAll();

    // A wide, faint light from above the page centre.
    juce::ColourGradient light (juce::Colours::white.withAlpha (0.045f), bounds.getCentreX(), -bounds.getHeight() * 0.15f,
                                juce::Colours::white.withAlpha (0.0f), bounds.getCentreX(), bounds.getHeight() * 0.75f, true);
    g->setGradientFill (light);
    g->fillAll();
}

void ArtworkCanvas::drawWordmark (Model model, juce::Point<float> topLeft, float height)
{
    auto wordFont = font (height).withExtraKerningFactor (0.02f);
    const juce::String word ("Norvo");
    const auto wordWidth = wordFont.getStringWidthFloat (word);

    g->setFont (wordFont);
    g->setColour (Palette::text);
    g->drawText (word, juce::Rectangle<float> (topLeft.x, topLeft.y, wordWidth + 4.0f, height), juce::Justification::centredLeft, false);

    if (model == Model::mini)
    {
        const auto miniFont = font (height).withExtraKerningFactor (0.02f);
        g->setFont (miniFont);
        g->setColour (Palette::gold);
        g->drawText ("Mini", juce::Rectangle<float> (topLeft.x + wordWidth + height * 0.28f, topLeft.y, height * 4.0f, height),
                    juce::Justification::centredLeft, false);
    }

    // A short gold rule under the wordmark ties it to the accent colour.
    g->setColour (Palette::gold);
    g->fillRoundedRectangle (topLeft.x + 2.0f, topLeft.y + height + height * 0.12f, height * 0.9f, height * 0.07f, height * 0.035f);
}

void ArtworkCanvas::drawGlow (juce::Point<float> centre, float radius, float alpha)
{
    // Eased towards the rim, so that no edge shows.
    juce::ColourGradient glow (Palette::gold.withAlpha (alpha), centre.x, centre.y,
                               Palette::gold.withAlpha (0.0f), centre.x + radius, centre.y, true);
    glow.addColour (0.25, Palette::gold.withAlpha (alpha * 0.7f));
    glow.addColour (0.5, Palette::gold.withAlpha (alpha * 0.32f));
    glow.addColour (0.75, Palette::gold.withAlpha (alpha * 0.09f));
    glow.addColour (0.9, Palette::gold.withAlpha (alpha * 0.02f));
    g->setGradientFill (glow);
    g->fillEllipse (juce::Rectangle<float> (radius * 2.0f, radius * 2.0f).withCentre (centre));
}

float ArtworkCanvas::drawLine (const juce::String& text, juce::Rectangle<float> area, float height, juce::Colour colour,
                               juce::Justification justification)
{
    const auto lineFont = font (height);
    g->setFont (lineFont);
    g->setColour (colour);
    g->drawText (text, area, justification, false);
    return lineFont.getStringWidthFloat (text);
}

float ArtworkCanvas::drawWrapped (const juce::String& text, juce::Rectangle<float> area, float height, float lineSpacing,
                                  juce::Colour colour, juce::Justification justification)
{
    const auto lineFont = font (height);
    auto y = area.getY();

    g->setFont (lineFont);
    g->setColour (colour);

    for (auto& line : wrapText (text, lineFont, area.getWidth()))
    {
        g->drawText (line, juce::Rectangle<float> (area.getX(), y, area.getWidth(), height),
                    justification.getOnlyHorizontalFlags() | juce::Justification::verticallyCentred, false);
        y += lineSpacing;
    }

    return y - lineSpacing + height;
}

void ArtworkCanvas::drawCheckBadge (juce::Point<float> centre, float radius)
{
    g->setColour (Palette::green);
    g->fillEllipse (juce::Rectangle<float> (radius * 2.0f, radius * 2.0f).withCentre (centre));

    juce::Path check;
    check.startNewSubPath (centre.x - radius * 0.45f, centre.y + radius * 0.02f);
    check.lineTo (centre.x - radius * 0.12f, centre.y + radius * 0.35f);
    check.lineTo (centre.x + radius * 0.48f, centre.y - radius * 0.32f);

    g->setColour (juce::Colours::white);
    g->strokePath (check, juce::PathStrokeType (radius * 0.2f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
}

void ArtworkCanvas::drawStatus (const juce::String& text, juce::Point<float> centre, float height)
{
    const auto radius = height * 0.36f;
    const auto gap = height * 0.32f;
    const auto textWidth = font (height).getStringWidthFloat (text);
    const auto left = centre.x - (radius * 2.0f + gap + textWidth) * 0.5f;

    drawCheckBadge ({ left + radius, centre.y }, radius);
    drawLine (text, { left + radius * 2.0f + gap, centre.y - height * 0.5f, textWidth + 8.0f, height }, height, Palette::text);
}

juce::StringArray ArtworkCanvas::wrapText (const juce::String& text, const juce::Font& lineFont, float maxWidth)
{
    juce::StringArray lines;
    juce::String line;

    for (auto& token : tokenise (text))
    {
        const auto candidate = line.isEmpty() ? token.text
                                              : line + (token.spaceBefore ? " " : "") + token.text;

        if (line.isNotEmpty() && lineFont.getStringWidthFloat (candidate) > maxWidth)
        {
            lines.add (line);
            line = token.text;
        }
        else
        {
            line = candidate;
        }
    }

    if (line.isNotEmpty())
        lines.add (line);

    return lines;
}
