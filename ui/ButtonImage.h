#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Gives an image button its image with the settings that every image button
    of the application shares: the button takes the image's size at once, the
    image is scaled to fit keeping its proportions, the same image serves the
    normal, over and down states at opacities 1.0, 0.8 and 0.5, with no overlay.
*/
void setButtonImage (juce::ImageButton& button, const juce::Image& image);
