#include "artwork/DeviceDrawings.h"

namespace
{
    // Both drawings are designed in their own units and scaled into the target area.
    constexpr float fullWidth = 600.0f, fullHeight = 310.0f;
    constexpr float miniWidth = 240.0f, miniHeight = 380.0f;

    const juce::Colour bodyFill  { 0xff2a2b2f };
    const juce::Colour panelFill { 0xff1f2023 };
    const juce::Colour capFill   { 0xff35363b };

    /** Maps design units to the target area and strokes at a width that follows the scale. */
    struct Sketch
    {
        Sketch (juce::Graphics& graphics, juce::Rectangle<float> area, float unitWidth)
            : g (graphics), origin (area.getPosition()), scale (area.getWidth() / unitWidth),
              stroke (juce::jmax (1.5f, 2.6f * scale))
        {}

        juce::Rectangle<float> rect (float x, float y, float w, float h) const
        {
            return { origin.x + x * scale, origin.y + y * scale, w * scale, h * scale };
        }

        juce::Point<float> point (float x, float y) const { return { origin.x + x * scale, origin.y + y * scale }; }

        void roundedBox (float x, float y, float w, float h, float corner, juce::Colour fill, juce::Colour outline) const
        {
            const auto r = rect (x, y, w, h);
            g.setColour (fill);
            g.fillRoundedRectangle (r, corner * scale);
            g.setColour (outline);
            g.drawRoundedRectangle (r, corner * scale, stroke);
        }

        void circle (float cx, float cy, float radius, juce::Colour fill, juce::Colour outline, float width = -1.0f) const
        {
            const auto r = rect (cx - radius, cy - radius, radius * 2.0f, radius * 2.0f);
            g.setColour (fill);
            g.fillEllipse (r);
            g.setColour (outline);
            g.drawEllipse (r, width > 0.0f ? width : stroke);
        }

        void knob (float cx, float cy, float radius, float angleDegrees) const
        {
            circle (cx, cy, radius, capFill, Palette::drawing);
            const auto angle = juce::degreesToRadians (angleDegrees);
            const auto from = point (cx + std::sin (angle) * radius * 0.25f, cy - std::cos (angle) * radius * 0.25f);
            const auto to = point (cx + std::sin (angle) * radius * 0.8f, cy - std::cos (angle) * radius * 0.8f);
            g.setColour (Palette::drawing);
            g.drawLine ({ from, to }, stroke);
        }

        void footswitch (float cx, float cy) const
        {
            circle (cx, cy, 28.0f, panelFill, Palette::drawing);
            circle (cx, cy, 17.0f, capFill, Palette::drawing);
        }

        void label (const juce::String& text, float cx, float y, float height, const juce::Font& font, juce::Colour colour) const
        {
            g.setFont (font.withHeight (height * scale));
            g.setColour (colour);
            g.drawText (text, rect (cx - 60.0f, y, 120.0f, height), juce::Justification::centred, false);
        }

        void highlight (float cx, float cy, float radius) const
        {
            const auto centre = point (cx, cy);
            const auto r = radius * scale;
            juce::ColourGradient glow (Palette::gold.withAlpha (0.35f), centre.x, centre.y,
                                       Palette::gold.withAlpha (0.0f), centre.x + r * 1.8f, centre.y, true);
            g.setGradientFill (glow);
            g.fillEllipse (juce::Rectangle<float> (r * 3.6f, r * 3.6f).withCentre (centre));

            g.setColour (Palette::gold);
            g.drawEllipse (juce::Rectangle<float> (r * 2.0f, r * 2.0f).withCentre (centre), stroke * 1.2f);
        }

        juce::Graphics& g;
        juce::Point<float> origin;
        float scale, stroke;
    };

    void drawDisplay (const Sketch& s, float x, float y, float w, float h)
    {
        s.roundedBox (x, y, w, h, 6.0f, Palette::gold.withAlpha (0.12f), Palette::gold);

        // A few glowing lines, as on a lit screen.
        s.g.setColour (Palette::gold.withAlpha (0.8f));
        s.g.fillRoundedRectangle (s.rect (x + w * 0.14f, y + h * 0.30f, w * 0.46f, h * 0.12f), 2.0f * s.scale);
        s.g.setColour (Palette::gold.withAlpha (0.45f));
        s.g.fillRoundedRectangle (s.rect (x + w * 0.14f, y + h * 0.58f, w * 0.72f, h * 0.09f), 2.0f * s.scale);
    }
}

juce::Rectangle<float> DeviceDrawings::fit (Model model, juce::Rectangle<float> box)
{
    const auto aspect = model == Model::fullSize ? fullWidth / fullHeight : miniWidth / miniHeight;
    auto width = box.getWidth();
    auto height = width / aspect;

    if (height > box.getHeight())
    {
        height = box.getHeight();
        width = height * aspect;
    }

    return juce::Rectangle<float> (width, height).withCentre (box.getCentre());
}

void DeviceDrawings::draw (juce::Graphics& g, Model model, juce::Rectangle<float> area,
                           const juce::Font& labelFont, bool highlightStartControl)
{
    if (model == Model::fullSize)
        drawFullSize (g, area, labelFont, highlightStartControl);
    else
        drawMini (g, area, labelFont, highlightStartControl);
}

void DeviceDrawings::drawFullSize (juce::Graphics& g, juce::Rectangle<float> area, const juce::Font& labelFont, bool highlight)
{
    const Sketch s (g, area, fullWidth);

    // Feet, rear panel with the screen and the small controls, then the sloped body.
    s.roundedBox (44.0f, 292.0f, 56.0f, 16.0f, 4.0f, panelFill, Palette::drawing);
    s.roundedBox (500.0f, 292.0f, 56.0f, 16.0f, 4.0f, panelFill, Palette::drawing);
    s.roundedBox (24.0f, 0.0f, 552.0f, 96.0f, 16.0f, panelFill, Palette::drawing);

    drawDisplay (s, 228.0f, 12.0f, 144.0f, 48.0f);

    for (auto x : { 76.0f, 122.0f, 168.0f })
        s.knob (x, 34.0f, 14.0f, x * 1.7f - 180.0f);

    for (auto x : { 428.0f, 474.0f })
        s.knob (x, 34.0f, 14.0f, x * 0.9f - 120.0f);

    if (highlight)
        s.highlight (526.0f, 34.0f, 26.0f);

    s.roundedBox (500.0f, 24.0f, 52.0f, 20.0f, 10.0f, capFill, Palette::drawing);
    s.label ("UPDAT", 526.0f, 48.0f, 24.0f, labelFont, highlight ? Palette::gold : Palette::muted);

    s.roundedBox (0.0f, 80.0f, 600.0f, 214.0f, 24.0f, bodyFill, Palette::drawing);

    // Status lights above five footswitches; the first one lit.
    for (int i = 0; i < 5; ++i)
    {
        const auto x = 80.0f + (float) i * 110.0f;
        s.circle (x, 132.0f, 5.0f, i == 0 ? Palette::gold : panelFill, i == 0 ? Palette::gold : Palette::drawing, s.stroke * 0.7f);
        s.footswitch (x, 214.0f);
    }
}

void DeviceDrawings::drawMini (juce::Graphics& g, juce::Rectangle<float> area, const juce::Font& labelFont, bool highlight)
{
    const Sketch s (g, area, miniWidth);

    s.roundedBox (0.0f, 0.0f, 240.0f, 380.0f, 28.0f, bodyFill, Palette::drawing);
    drawDisplay (s, 36.0f, 28.0f, 168.0f, 70.0f);

    if (highlight)
        s.highlight (120.0f, 166.0f, 48.0f);

    // The volume knob, with a ring of scale marks.
    for (int i = 0; i <= 10; ++i)
    {
        const auto angle = juce::degreesToRadians (-135.0f + (float) i * 27.0f);
        const auto inner = s.point (120.0f + std::sin (angle) * 43.0f, 166.0f - std::cos (angle) * 43.0f);
        const auto outer = s.point (120.0f + std::sin (angle) * 49.0f, 166.0f - std::cos (angle) * 49.0f);
        s.g.setColour (highlight ? Palette::gold : Palette::dim);
        s.g.drawLine ({ inner, outer }, s.stroke * 0.7f);
    }

    s.knob (120.0f, 166.0f, 34.0f, 60.0f);
    s.label ("VOL", 120.0f, 216.0f, 22.0f, labelFont, highlight ? Palette::gold : Palette::muted);

    s.knob (58.0f, 262.0f, 15.0f, -40.0f);
    s.knob (182.0f, 262.0f, 15.0f, 30.0f);
    s.footswitch (120.0f, 326.0f);
}
