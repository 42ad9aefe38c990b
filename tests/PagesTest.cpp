#include <gtest/gtest.h>

#include "tests/support/AppTesting.h"
#include "ui/ConnectedView.h"
#include "ui/DisconnectedView.h"
#include "ui/SupportPage.h"
#include "ui/UpdateView.h"

#include <thread>

namespace
{
    /** The pages in a chosen language and model, with a home folder of their own for the settings file. */
    struct Pages : public testing::Test
    {
        Pages()             { env.set ("HOME", home.getFullPathName().toRawUTF8()); use ("en", true); }
        ~Pages() override   { ConstVar::getInstance()->isFullSizeModel = savedModel; juce::LocalisedStrings::setCurrentMappings (nullptr); home.deleteRecursively(); }

        void use (const juce::String& lang, bool fullSize)
        {
            const bool zh = lang == "zh";
            env.set ("LANGUAGE", zh ? "zh_CN" : "en_US");
            ConstVar::getInstance()->isFullSizeModel = fullSize;
            juce::LocalisedStrings::setCurrentMappings (new juce::LocalisedStrings (juce::String::createStringFromData (
                zh ? BinaryData::chinese_txt : BinaryData::english_txt, zh ? BinaryData::chinese_txtSize : BinaryData::english_txtSize), false));
        }

        /** A file of this length whose version bytes, at 28, are 'V', major, 2, 10. */
        juce::File firmware (const juce::String& name, int length = 136, char major = 1)
        {
            juce::MemoryBlock data (136, true);
            data[28] = 'V', data[29] = major, data[30] = 2, data[31] = 10;
            const auto file = home.getChildFile (name);
            file.create();
            file.appendData (data.getData(), (size_t) length);
            return file;
        }

        ScopedEnv env;
        const juce::File home = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("norvo-" + juce::Uuid().toString());
        const juce::File settings = home.getChildFile (".NorvoUpdate/NorvoUpdate.settings");
        const bool savedModel = ConstVar::getInstance()->isFullSizeModel;
    };
}

TEST_F (Pages, PaintTheImagesOfTheirLanguageAndModel)
{
    for (const juce::String variant : { "en_full", "en_mini", "zh_full", "zh_mini" })
    {
        const auto lang = variant.substring (0, 2);
        use (lang, variant.endsWith ("full"));
        DisconnectedView disconnected;
        ConnectedView connected;
        UpdateView update;
        const auto paints = [] (juce::Component& page, const juce::String& image, const juce::String& heading = {})
        {
            page.setBounds (0, 0, 650, 414);
            return samePixels (drawn (650, 414, [&page] (juce::Graphics& g) { page.paint (g); }), drawn (650, 414, [&] (juce::Graphics& g)
            {
                const auto source = resourceImage (image + "_png");
                g.drawImage (source, 0, 0, 650, 414, 0, 0, source.getWidth(), source.getHeight());
                g.setColour (juce::Colours::white);
                g.setFont (12.0f);
                g.drawText (heading, 270, 244, 103, 17, juce::Justification::left, true);
            }));
        };

        EXPECT_TRUE (paints (disconnected, "disconnected_" + lang)) << variant;
        EXPECT_TRUE (paints (connected, "connected_normal_" + variant)) << variant;
        EXPECT_TRUE (paints (update, "update_" + variant)) << variant;
        connected.currentState = 2;
        EXPECT_TRUE (paints (connected, "connected_update_" + variant, juce::translate ("Updated version:"))) << variant;
        EXPECT_EQ (disconnected.helpImage.getImage(), resourceImage ("help_" + lang + "_png"));
        EXPECT_EQ (disconnected.helpButton->getNormalImage(), resourceImage ("help_button_" + lang + "_png"));
        EXPECT_EQ (connected.startButton.getNormalImage(), resourceImage ("start_disabled_" + lang + "_png"));
        connected.fileChosen (firmware ("norvo.bin"));
        EXPECT_EQ (connected.startButton.getNormalImage(), resourceImage ("start_enabled_" + lang + "_png"));
        EXPECT_EQ (connected.versionLabel.getX(), lang == "zh" ? 320 : 380);
    }
}

TEST_F (Pages, LayOutTheirControlsWithLinksToTheSupportPage)
{
    DisconnectedView disconnected;
    ConnectedView connected;
    UpdateView update;
    const std::pair<juce::Component*, juce::Rectangle<int>> layout[] = {
        { disconnected.helpButton.get(), { 255, 354, 140, 30 } }, { disconnected.backButton.get(), { 32, 31, 41, 13 } },
        { disconnected.downloadLink.get(), { 303, 375, 305, 20 } }, { &disconnected.helpImage, { 0, 0, 650, 414 } },
        { &connected.updateButton, { 286, 349, 79, 28 } }, { &connected.pathBox, { 270, 186, 270, 28 } }, { &connected.browseButton, { 550, 186, 28, 28 } },
        { &connected.startButton, { 499, 235, 79, 28 } }, { &connected.downloadLink, { 303, 294, 280, 20 } }, { &update.progressSlider, { 206, 354, 227, 10 } } };

    for (auto* page : std::initializer_list<juce::Component*> { &disconnected, &connected, &update })
        page->setBounds (0, 0, 650, 414);

    for (const auto& [component, bounds] : layout)
        EXPECT_EQ (component->getBounds(), bounds);

    // The help page's link is centred and larger.
    for (const auto& [link, colour, height, justification] : { std::tuple { disconnected.downloadLink.get(), 0xffb88a40, 14.0f, juce::Justification::horizontallyCentred },
                                                               { &connected.downloadLink, 0xffd9b776, 12.0f, juce::Justification::right } })
    {
        EXPECT_EQ (link->getURL().toString (false), SupportPage::address);
        EXPECT_TRUE (samePixels (link->createComponentSnapshot (link->getLocalBounds()), drawn (link->getWidth(), link->getHeight(), [&, l = link] (juce::Graphics& g)
        {
            g.setColour (juce::Colour (colour));
            g.setFont (height);
            g.drawText (l->getButtonText(), l->getLocalBounds().reduced (1, 0), justification | juce::Justification::verticallyCentred, true);
        }))) << height;
    }
}

TEST_F (Pages, AChosenFileShowsItsVersionAndIsRememberedAtOnce)
{
    ConnectedView page;

    for (const auto& nothing : { juce::File(), home.getChildFile ("gone.bin"), home })   // cancelled, missing, a folder
        page.fileChosen (nothing);

    EXPECT_EQ (page.pathBox.getNumItems(), 0);
    EXPECT_FALSE (settings.exists());

    const auto earlier = firmware ("earlier.bin", 136, 7), file = firmware ("norvo.bin");
    page.fileChosen (earlier);
    page.fileChosen (file);
    EXPECT_EQ (page.versionLabel.getText() + page.pathBox.getText(), "V 1.2.10" + file.getFullPathName());
    EXPECT_TRUE (settings.loadFileAsString().contains ("name=\"FirmwareDir\" val=\"" + file.getFullPathName() + "\""));

    // Written only when it changes: the same file again or an earlier one from the box leave a hand-made copy alone.
    const auto handMade = "<PROPERTIES><VALUE name=\"FirmwareDir\" val=\"" + file.getFullPathName() + "\"/></PROPERTIES>";
    settings.replaceWithText (handMade);
    page.fileChosen (file);
    page.pathBox.setSelectedId (1, juce::sendNotificationSync);
    EXPECT_EQ (page.versionLabel.getText(), "V 7.2.10");
    EXPECT_EQ (settings.loadFileAsString(), handMade);

    // A file too short for a version clears the one shown before.
    for (const auto& [length, version] : { std::pair { 31, "" }, { 32, "V 1.2.10" }, { 0, "" } })
    {
        page.fileChosen (firmware ("cut" + juce::String (length), length));
        EXPECT_EQ (page.versionLabel.getText(), version) << length;
    }
}

TEST_F (Pages, OnlyContinueInTheBackUpWarningEntersUpdateModeAndNotForADeletedPage)
{
    if (std::getenv ("DISPLAY") == nullptr)
        GTEST_SKIP() << "alert windows need a display";

    use ("zh", true);
    auto page = std::make_unique<ConnectedView>();
    int calls = 0;
    page->onEnterUpdateMode = [&calls] { ++calls; };

    for (const auto& [result, pageGoesFirst, callsSoFar] : { std::tuple { 0, false, 0 }, { 1, false, 1 }, { 1, true, 1 } })
    {
        page->updateButton.triggerClick();
        auto* alert = waitForAlertWindow();
        ASSERT_NE (alert, nullptr);
        EXPECT_EQ (alert->getDescription(), juce::String::fromUTF8 ("提示. 为防止固件更新过程中的意外情况, \n 请务必备份您的音色。 \n 您确定要继续吗？"));
        EXPECT_EQ (alert->findColour (juce::AlertWindow::backgroundColourId), juce::Colour (0xff27282b));
        EXPECT_EQ (&alert->getLookAndFeel(), &page->alertLookAndFeel);

        if (pageGoesFirst)
            page.reset();

        dismissAllAlerts (result);
        EXPECT_EQ (calls, callsSoFar) << result << pageGoesFirst;
    }
}

TEST (UpdatePage, ProgressIsAppliedLaterOnTheMessageThreadWithoutNoticeAndNotToADeletedPage)
{
    auto page = std::make_unique<UpdateView>();
    auto& bar = page->progressSlider;
    bar.onValueChange = [] { FAIL() << "nothing listens to the progress"; };

    page->setProgress (0.5);
    EXPECT_EQ (bar.getValue(), 0.0);
    EXPECT_TRUE (pumpMessagesUntil ([&bar] { return bar.getValue() == 0.5; }));
    std::thread ([&page] { page->setProgress (-3.0); page->setProgress (1.7); }).join();
    pumpMessagesFor (50);
    EXPECT_EQ (bar.getValue(), 1.0);   // the last one, held at the range's end

    page->setProgress (0.2);
    page.reset();
    pumpMessagesFor (20);   // must not touch the deleted page
}
