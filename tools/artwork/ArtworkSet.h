#pragma once

#include "artwork/ArtworkCanvas.h"

#include <functional>
#include <map>

/** Every embedded image, drawn from the embedded typeface and the embedded translation
    tables, so that the pictures carry exactly the application's wording.
*/
class ArtworkSet
{
public:
    ArtworkSet();

    /** The file names (without ".png") of all images, in a stable order. */
    juce::StringArray getNames() const;

    /** Draws one image; an unknown name gives an invalid image. */
    juce::Image create (const juce::String& name) const;

    /** The wording of a translation key in a language: the key itself where a table has no entry. */
    juce::String text (Language language, const juce::String& key) const;

    juce::Typeface::Ptr getTypeface() const { return typeface; }

    /** The hint to restart the device or the software, in a language. */
    juce::String restartHint (Language) const;

private:
    juce::Image disconnectedPage (Language) const;
    juce::Image helpPage (Language) const;
    juce::Image connectedNormalPage (Language, Model) const;
    juce::Image connectedUpdatePage (Language, Model) const;
    juce::Image updatePage (Language, Model) const;

    juce::Image helpButton (Language) const;
    juce::Image backButton() const;
    juce::Image browseButton() const;
    juce::Image startButton (Language, bool enabled) const;
    juce::Image progressTrack() const;

    ArtworkCanvas pageCanvas() const;
    ArtworkCanvas buttonCanvas (int width, int height, juce::Colour ground) const;

    juce::Typeface::Ptr typeface;
    std::unique_ptr<juce::LocalisedStrings> english, chinese;
    std::map<juce::String, std::function<juce::Image()>> makers;
};
