#pragma once

#include <juce_graphics/juce_graphics.h>

#include <vector>

/** The embedded page and button images, chosen by the user's language at each
    call and, for the connected and update pages, by the connected model.
*/
namespace PageImages
{
    /** One embedded PNG: its bytes and their number. */
    struct Embedded
    {
        const char* data;
        int size;
    };

    /** The images taken first at start: the disconnected page's background and its help
        page, in the user's language.
    */
    std::vector<Embedded> startImages();

    juce::Image disconnectedBackground();
    juce::Image helpPage();
    juce::Image helpButton();
    juce::Image backButton();

    /** The connected page: the device in its normal mode, or in update mode. */
    juce::Image connectedPage (bool deviceInUpdateMode);
    juce::Image startButton (bool enabled);
    juce::Image browseButton();

    juce::Image updatePage();
}
