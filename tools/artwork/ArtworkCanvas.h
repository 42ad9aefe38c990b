#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

enum class Language { english, chinese };
enum class Model { fullSize, mini };

/** The colours of all artwork: a dark ground with the gold accent of the look-and-feels. */
namespace Palette
{
    const juce::Colour groundTop    { 0xff25262a };
    const juce::Colour groundBottom { 0xff151618 };
    const juce::Colour panel        { 0xff2e2f33 };
    const juce::Colour field        { 0xff1f2023 };
    const juce::Colour line         { 0xff3d3e42 };
    const juce::Colour hairline     { 0xff2c2d31 };
    const juce::Colour text         { 0xfff2f2f3 };
    const juce::Colour muted        { 0xffb4b6bb };
    const juce::Colour dim          { 0xff7d8086 };
    const juce::Colour gold         { 0xffe4b262 };
    const juce::Colour goldBright   { 0xfffdc743 };
    const juce::Colour drawing      { 0xffd4d5d9 };
    const juce::Colour green        { 0xff3fbf6f };
}

/** Texts, fonts and the shared elements of the artwork, drawn into one image. */
class ArtworkCanvas
{
public:
    ArtworkCanvas (int width, int height, juce::Typeface::Ptr typeface);

    juce::Image& getImage() noexcept     { return image; }
    juce::Graphics& graphics() noexcept  { return *g; }

    /** The embedded typeface at a height in JUCE's sense (ascent plus descent). */
    juce::Font font (float height) const;

    /** The dark page ground with a soft light from the top. */
    void fillPageGround();

    /** "Norvo", or "Norvo Mini" with the model name in gold, at the page's top left. */
    void drawWordmark (Model model, juce::Point<float> topLeft, float height);

    /** A faint gold glow, to lift a drawing off the ground. */
    void drawGlow (juce::Point<float> centre, float radius, float alpha);

    /** One line of text; returns the width it took. */
    float drawLine (const juce::String& text, juce::Rectangle<float> area, float height, juce::Colour colour,
                    juce::Justification justification = juce::Justification::centredLeft);

    /** Text wrapped into lines no wider than the area; returns the bottom of the last line. */
    float drawWrapped (const juce::String& text, juce::Rectangle<float> area, float height, float lineSpacing,
                       juce::Colour colour, juce::Justification justification = juce::Justification::left);

    /** A green disc with a white check mark. */
    void drawCheckBadge (juce::Point<float> centre, float radius);

    /** A check badge followed by a text, centred as a group on the given point. */
    void drawStatus (const juce::String& text, juce::Point<float> centre, float height);

    /** Breaks between words, and between Chinese characters except before closing punctuation. */
    static juce::StringArray wrapText (const juce::String& text, const juce::Font& font, float maxWidth);

private:
    juce::Image image;
    std::unique_ptr<juce::Graphics> g; // held by pointer so that a canvas can be returned
    juce::Typeface::Ptr typeface;
};
