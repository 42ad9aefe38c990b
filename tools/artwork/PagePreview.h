#pragma once

#include "artwork/ArtworkSet.h"

/** Renders a page as the application shows it: the page image scaled into 650 x 414
    with the page's widgets on top, in the application's look-and-feels. For checking
    the artwork by eye; the application's own page classes are not used.
*/
class PagePreview
{
public:
    explicit PagePreview (const ArtworkSet& artwork);

    /** "disconnected", "help", "connected_normal", "connected_update" or "update". */
    static juce::StringArray getPageNames();

    juce::Image render (const juce::String& page, Language, Model, float scale) const;

private:
    const ArtworkSet& artwork;
};
