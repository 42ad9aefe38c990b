#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "device/ConstVar.h"
#include "ui/DefaultLookAndFeel.h"

#include <functional>
#include <map>
#include <optional>
#include <string>

/** What the pages read around them, put back at the end: environment (HOME in a
    fresh folder, so the settings file lands there), model flag, translations,
    look-and-feel. Starts in English for the full-size model.
*/
class PageSurroundings
{
public:
    PageSurroundings();
    ~PageSurroundings();

    void setEnv (const char* name, const char* value);   // nullptr unsets

    /** LANG alone decides: "en" or "zh"; installs that translation table too. */
    void useLanguage (const juce::String& lang);
    void useModel (bool fullSize)     { ConstVar::getInstance()->isFullSizeModel = fullSize; }

    void useEmbeddedTypeface();

    const juce::File home, scratch;

private:
    std::map<std::string, std::optional<std::string>> savedEnv;
    const bool savedModel;
    DefaultLookAndFeel lookAndFeel;
};

juce::Image resourceImage (const juce::String& name);     // e.g. "back_button_png"
juce::Image paintOwnFace (juce::Component&);              // its own paint, no children
juce::Image scaledToPage (const juce::Image&);            // drawn over 650 x 414
bool samePixels (const juce::Image&, const juce::Image&);

juce::Image blankImage (int width, int height);          // cleared ARGB
int countPixels (const juce::Image&, const std::function<bool (juce::Colour)>&);
inline bool isBlank (const juce::Image& image)            { return countPixels (image, [] (juce::Colour c) { return c.getAlpha() != 0; }) == 0; }

/** Whether the link shows its text plain in this colour, font height and justification. */
bool linkLooks (juce::HyperlinkButton&, juce::Colour, float fontHeight, juce::Justification);
