#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The page shown while no device is connected. Its first face is a picture
    saying so, with one button that opens the help page; the help page shows
    troubleshooting steps over the whole page, a back button and a download link.
    MainComponent switches the faces through the public children.
*/
class DisconnectedView : public juce::Component
{
public:
    DisconnectedView();
    ~DisconnectedView() override;

    void paint (juce::Graphics&) override;
    void resized() override;

    /** Hides the first page's button and shows the help page over everything. */
    void showHelpPage();

    /** Back to the first face: only the help button over the background. */
    void showFirstPage();

    std::unique_ptr<juce::HyperlinkButton> downloadLink;
    std::unique_ptr<juce::ImageButton> helpButton;
    std::unique_ptr<juce::ImageButton> backButton;
    juce::ImageComponent helpImage;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DisconnectedView)
};
