#include "ui/DisconnectedView.h"

#include "ui/ButtonImage.h"
#include "ui/PageImages.h"
#include "ui/SupportPage.h"

DisconnectedView::DisconnectedView()
{
    helpImage.setImage (PageImages::helpPage());
    addAndMakeVisible (helpImage);
    helpImage.setVisible (false);

    helpButton = std::make_unique<juce::ImageButton>();
    addAndMakeVisible (*helpButton);
    setButtonImage (*helpButton, PageImages::helpButton());
    helpButton->setVisible (true);
    helpButton->onClick = [this] { showHelpPage(); };

    backButton = std::make_unique<juce::ImageButton>();
    addAndMakeVisible (*backButton);
    setButtonImage (*backButton, PageImages::backButton());
    backButton->setVisible (false);
    backButton->onClick = [this] { showFirstPage(); };

    downloadLink = std::make_unique<juce::HyperlinkButton> (juce::translate ("There's no new firmware yet. Download it"),
                                                            juce::URL (SupportPage::address));
    downloadLink->setFont (juce::Font (14.0f), false, juce::Justification::horizontallyCentred);
    downloadLink->setColour (juce::HyperlinkButton::textColourId, juce::Colour (0xffb88a40));
    addAndMakeVisible (*downloadLink);
    downloadLink->setVisible (false);
}

DisconnectedView::~DisconnectedView()
{
    helpButton.reset();
    backButton.reset();
    downloadLink.reset();
}

void DisconnectedView::paint (juce::Graphics& g)
{
    const auto image = PageImages::disconnectedBackground();
    g.drawImage (image, 0, 0, getWidth(), getHeight(), 0, 0, image.getWidth(), image.getHeight());
}

void DisconnectedView::resized()
{
    helpButton->setBounds (255, 354, 140, 30);
    backButton->setBounds (32, 31, 41, 13);
    downloadLink->setBounds (303, 375, 305, 20);
    helpImage.setBounds (getLocalBounds());
}

void DisconnectedView::showHelpPage()
{
    helpButton->setVisible (false);
    backButton->setVisible (true);
    downloadLink->setVisible (true);
    helpImage.setVisible (true);
}

void DisconnectedView::showFirstPage()
{
    helpButton->setVisible (true);
    backButton->setVisible (false);
    downloadLink->setVisible (false);
    helpImage.setVisible (false);
}
