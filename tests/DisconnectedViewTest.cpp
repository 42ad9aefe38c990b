#include <gtest/gtest.h>

#include "tests/support/PageTesting.h"
#include "ui/DisconnectedView.h"
#include "ui/SupportPage.h"

TEST (DisconnectedPage, FacesLayoutAndImagesOfTheLanguage)
{
    PageSurroundings surroundings;

    for (const juce::String lang : { "en", "zh" })
    {
        surroundings.useLanguage (lang);
        DisconnectedView page;
        page.setBounds (0, 0, 650, 414);
        auto face = [&page]
        {
            juce::String visible;
            for (juce::Component* child : std::initializer_list<juce::Component*> { page.helpButton.get(), page.backButton.get(),
                                                                                    page.downloadLink.get(), &page.helpImage })
                visible << (child->isVisible() ? "1" : "0");
            return visible;
        };

        EXPECT_EQ (face(), "1000");
        page.helpButton->onClick();
        EXPECT_EQ (face(), "0111");
        page.backButton->onClick();
        EXPECT_EQ (face(), "1000");

        EXPECT_TRUE (samePixels (paintOwnFace (page), scaledToPage (resourceImage ("disconnected_" + lang + "_png"))));
        EXPECT_EQ (page.helpImage.getImage(), resourceImage ("help_" + lang + "_png"));
        EXPECT_EQ (page.helpButton->getNormalImage(), resourceImage ("help_button_" + lang + "_png"));
        EXPECT_EQ (page.backButton->getNormalImage(), resourceImage ("back_button_png"));
    }

    DisconnectedView page;
    page.setBounds (0, 0, 650, 414);
    EXPECT_EQ (page.helpButton->getBounds(), juce::Rectangle<int> (255, 354, 140, 30));
    EXPECT_EQ (page.backButton->getBounds(), juce::Rectangle<int> (32, 31, 41, 13));
    EXPECT_EQ (page.downloadLink->getBounds(), juce::Rectangle<int> (303, 375, 305, 20));
    EXPECT_EQ (page.helpImage.getBounds(), page.getLocalBounds());
    EXPECT_EQ (page.downloadLink->getURL().toString (false), SupportPage::address);
    EXPECT_TRUE (linkLooks (*page.downloadLink, juce::Colour (0xffb88a40), 14.0f, juce::Justification::horizontallyCentred));
    EXPECT_FALSE (linkLooks (*page.downloadLink, juce::Colour (0xffb88a40), 12.0f, juce::Justification::horizontallyCentred));
}
