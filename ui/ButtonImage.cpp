#include "ui/ButtonImage.h"

void setButtonImage (juce::ImageButton& button, const juce::Image& image)
{
    const juce::Colour noOverlay (0x00000000);

    button.setImages (true, true, true,
                      image, 1.0f, noOverlay,
                      {},    0.8f, noOverlay,
                      {},    0.5f, noOverlay,
                      0.0f);
}
