#include <gtest/gtest.h>

#include "tests/support/PageTesting.h"
#include "ui/DisconnectedView.h"
#include "ui/SupportPage.h"

#include "BinaryData.h"

namespace
{
    struct DisconnectedPage : public testing::Test
    {
        void SetUp() override
        {
            environment.useLanguage ("en_US.UTF-8");
        }

        std::unique_ptr<DisconnectedView> makePage()
        {
            auto page = std::make_unique<DisconnectedView>();
            page->setBounds (0, 0, 650, 414);
            return page;
        }

        static void expectFirstPage (const DisconnectedView& page)
        {
            EXPECT_TRUE (page.helpButton->isVisible());
            EXPECT_FALSE (page.backButton->isVisible());
            EXPECT_FALSE (page.downloadLink->isVisible());
            EXPECT_FALSE (page.helpImage.isVisible());
        }

        ScopedEnvironment environment;
    };
}

TEST_F (DisconnectedPage, StartsOnTheFirstPageAndSwitchesFacesWithItsButtons)
{
    auto page = makePage();
    expectFirstPage (*page);

    page->helpButton->onClick();
    EXPECT_FALSE (page->helpButton->isVisible());
    EXPECT_TRUE (page->backButton->isVisible());
    EXPECT_TRUE (page->downloadLink->isVisible());
    EXPECT_TRUE (page->helpImage.isVisible());

    page->backButton->onClick();
    expectFirstPage (*page);
}

TEST_F (DisconnectedPage, LaysOutItsChildren)
{
    auto page = makePage();

    EXPECT_EQ (page->helpButton->getBounds(), juce::Rectangle<int> (255, 354, 140, 30));
    EXPECT_EQ (page->backButton->getBounds(), juce::Rectangle<int> (32, 31, 41, 13));
    EXPECT_EQ (page->downloadLink->getBounds(), juce::Rectangle<int> (303, 375, 305, 20));
    EXPECT_EQ (page->helpImage.getBounds(), juce::Rectangle<int> (0, 0, 650, 414));
}

TEST_F (DisconnectedPage, PaintsAndShowsTheImagesOfTheLanguage)
{
    const ScopedDistinctImages pages ({ { BinaryData::disconnected_en_png, BinaryData::disconnected_en_pngSize },
                                        { BinaryData::disconnected_zh_png, BinaryData::disconnected_zh_pngSize },
                                        { BinaryData::help_en_png, BinaryData::help_en_pngSize },
                                        { BinaryData::help_zh_png, BinaryData::help_zh_pngSize } },
                                      1300, 828);

    struct Case { const char* lang; const char* background; const char* help; const char* opener; int openerSize; };

    const Case cases[] = {
        { "en_GB.UTF-8", BinaryData::disconnected_en_png, BinaryData::help_en_png,
          BinaryData::help_button_en_png, BinaryData::help_button_en_pngSize },
        { "zh_TW.UTF-8", BinaryData::disconnected_zh_png, BinaryData::help_zh_png,
          BinaryData::help_button_zh_png, BinaryData::help_button_zh_pngSize },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.lang);
        environment.useLanguage (c.lang);
        auto page = makePage();

        EXPECT_TRUE (samePixels (paintOwnFace (*page), drawScaledOver (pages[c.background], 650, 414)));
        EXPECT_EQ (page->helpImage.getImage(), pages[c.help]);
        EXPECT_EQ (page->helpButton->getNormalImage(), embeddedImage (c.opener, c.openerSize));
        EXPECT_EQ (page->backButton->getNormalImage(), embeddedImage (BinaryData::back_button_png, BinaryData::back_button_pngSize));
    }
}

TEST_F (DisconnectedPage, BackgroundFollowsTheLanguageAtEachPaint)
{
    const ScopedDistinctImages pages ({ { BinaryData::disconnected_en_png, BinaryData::disconnected_en_pngSize },
                                        { BinaryData::disconnected_zh_png, BinaryData::disconnected_zh_pngSize } },
                                      1300, 828);
    auto page = makePage();
    EXPECT_TRUE (samePixels (paintOwnFace (*page), drawScaledOver (pages[BinaryData::disconnected_en_png], 650, 414)));

    environment.useLanguage ("zh_CN.UTF-8");
    EXPECT_TRUE (samePixels (paintOwnFace (*page), drawScaledOver (pages[BinaryData::disconnected_zh_png], 650, 414)));
}

TEST_F (DisconnectedPage, HelpImageCoversThePageAboveTheBackground)
{
    auto page = makePage();
    page->showHelpPage();

    const auto expected = drawScaledOver (embeddedImage (BinaryData::help_en_png, BinaryData::help_en_pngSize), 650, 414);
    EXPECT_TRUE (samePixels (snapshotOf (page->helpImage), expected));
}

TEST_F (DisconnectedPage, DownloadLinkIsCentredFourteenHighInItsGold)
{
    const ScopedEmbeddedTypeface typeface;
    auto page = makePage();
    auto& link = *page->downloadLink;

    EXPECT_EQ (link.getButtonText(), juce::translate ("There's no new firmware yet. Download it"));
    EXPECT_EQ (link.getURL().toString (false), juce::String (SupportPage::address));
    EXPECT_EQ (link.findColour (juce::HyperlinkButton::textColourId), juce::Colour (0xffb88a40));

    // The link is drawn as plain text of the expected font, place and colour.
    auto drawnText = [&link] (float height, juce::Justification justification)
    {
        juce::Image image (juce::Image::ARGB, link.getWidth(), link.getHeight(), true);
        juce::Graphics g (image);
        g.setColour (juce::Colour (0xffb88a40));
        g.setFont (juce::Font (height));
        g.drawText (link.getButtonText(), link.getLocalBounds().reduced (1, 0),
                    justification.getOnlyHorizontalFlags() | juce::Justification::verticallyCentred, true);
        return image;
    };

    const auto shown = snapshotOf (link);
    EXPECT_GT (countVisiblePixels (shown), 0);
    EXPECT_TRUE (samePixels (shown, drawnText (14.0f, juce::Justification::horizontallyCentred)));
    EXPECT_FALSE (samePixels (shown, drawnText (14.0f, juce::Justification::right)));
    EXPECT_FALSE (samePixels (shown, drawnText (12.0f, juce::Justification::horizontallyCentred)));
}
