#pragma once

#include "artwork/ArtworkCanvas.h"

/** Line drawings of the two models: the full-size floor unit and the compact "Norvo Mini". */
class DeviceDrawings
{
public:
    /** The largest area of the model's proportions that fits the box, centred in it. */
    static juce::Rectangle<float> fit (Model model, juce::Rectangle<float> box);

    /** Draws the model into an area of its proportions; the highlight marks the control
        held while switching on (the update button, or the volume knob of the Mini). */
    static void draw (juce::Graphics&, Model model, juce::Rectangle<float> area,
                      const juce::Font& labelFont, bool highlightStartControl = false);

private:
    static void drawFullSize (juce::Graphics&, juce::Rectangle<float> area, const juce::Font&, bool highlight);
    static void drawMini (juce::Graphics&, juce::Rectangle<float> area, const juce::Font&, bool highlight);
};
