#include <gtest/gtest.h>

#include "device/ConstVar.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/PageTesting.h"
#include "ui/ConnectedView.h"
#include "ui/SupportPage.h"

#include "BinaryData.h"

#include <sys/stat.h>

namespace
{
    /** The first bytes of a firmware file: a header whose version bytes are given. */
    juce::MemoryBlock firmwareWithVersion (juce::uint8 b0, juce::uint8 b1, juce::uint8 b2, juce::uint8 b3, size_t size = 136)
    {
        juce::MemoryBlock data (136, true);
        data.copyFrom ("KRFW", 0, 4);
        const juce::uint8 version[] = { b0, b1, b2, b3 };
        data.copyFrom (version, 28, 4);
        data.setSize (size);
        return data;
    }

    /** What MainComponent does with a device state: the face and the children that go with it. */
    void applyDeviceState (ConnectedView& page, int state)
    {
        const bool normalMode = state == 1;
        page.currentState = state;
        page.updateButton.setVisible (normalMode);

        for (juce::Component* child : { (juce::Component*) &page.pathBox, (juce::Component*) &page.browseButton,
                                        (juce::Component*) &page.startButton, (juce::Component*) &page.downloadLink,
                                        (juce::Component*) &page.versionLabel })
            child->setVisible (! normalMode);
    }

    juce::Image startImage (bool enabled, bool chinese)
    {
        if (enabled)
            return chinese ? embeddedImage (BinaryData::start_enabled_zh_png, BinaryData::start_enabled_zh_pngSize)
                           : embeddedImage (BinaryData::start_enabled_en_png, BinaryData::start_enabled_en_pngSize);

        return chinese ? embeddedImage (BinaryData::start_disabled_zh_png, BinaryData::start_disabled_zh_pngSize)
                       : embeddedImage (BinaryData::start_disabled_en_png, BinaryData::start_disabled_en_pngSize);
    }

    bool hasDisplay()
    {
        return std::getenv ("DISPLAY") != nullptr;
    }

    juce::AlertWindow* findShownAlert()
    {
        auto& modal = *juce::ModalComponentManager::getInstance();

        for (int i = 0; i < modal.getNumModalComponents(); ++i)
            if (auto* alert = dynamic_cast<juce::AlertWindow*> (modal.getModalComponent (i)))
                return alert;

        return nullptr;
    }

    /** Dismisses an alert with a result and waits until it has been deleted. */
    bool dismissAlert (juce::AlertWindow* alert, int result)
    {
        juce::Component::SafePointer<juce::AlertWindow> window (alert);
        alert->exitModalState (result);
        return pumpMessagesUntil ([&window] { return window == nullptr; });
    }

    struct ConnectedPage : public testing::Test
    {
        void SetUp() override
        {
            environment.useLanguage ("en_US.UTF-8");
            environment.set ("HOME", home.getFolder().getFullPathName().toStdString());
        }

        std::unique_ptr<ConnectedView> makePage()
        {
            auto page = std::make_unique<ConnectedView>();
            page->setBounds (0, 0, 650, 414);
            return page;
        }

        juce::File settingsFile() const
        {
            return home.getFolder().getChildFile (".NorvoUpdate").getChildFile ("NorvoUpdate.settings");
        }

        juce::String storedFirmwarePath() const
        {
            const auto xml = juce::parseXML (settingsFile());

            if (xml == nullptr || ! xml->hasTagName ("PROPERTIES"))
                return "<no settings>";

            for (auto* value : xml->getChildWithTagNameIterator ("VALUE"))
                if (value->getStringAttribute ("name") == "FirmwareDir")
                    return value->getStringAttribute ("val");

            return "<no FirmwareDir>";
        }

        ScopedEnvironment environment;
        ScopedTempFolder home;
        ScopedTempFolder firmwareFolder;
        ScopedModel model { true };
    };
}

//==============================================================================
TEST_F (ConnectedPage, BuildsItsChildrenVisibleInStateOne)
{
    auto page = makePage();

    EXPECT_EQ (page->currentState, 1);

    for (auto* child : page->getChildren())
        EXPECT_TRUE (child->isVisible()) << child->getName();

    EXPECT_EQ (page->updateButton.getName(), "update");
    EXPECT_EQ (page->startButton.getName(), "update");
    EXPECT_FALSE (page->pathBox.isTextEditable());
    EXPECT_EQ (page->pathBox.findColour (juce::ComboBox::backgroundColourId), juce::Colour (0x00000000));
    EXPECT_EQ (page->pathBox.getNumItems(), 0);
    EXPECT_TRUE (page->versionLabel.getText().isEmpty());
    EXPECT_FALSE (page->versionLabel.isEditableOnSingleClick() || page->versionLabel.isEditableOnDoubleClick());
}

TEST_F (ConnectedPage, LaysOutItsChildrenWithTheLabelPlacedByLanguage)
{
    auto page = makePage();

    EXPECT_EQ (page->updateButton.getBounds(), juce::Rectangle<int> (286, 349, 79, 28));
    EXPECT_EQ (page->pathBox.getBounds(), juce::Rectangle<int> (270, 186, 270, 28));
    EXPECT_EQ (page->browseButton.getBounds(), juce::Rectangle<int> (550, 186, 28, 28));
    EXPECT_EQ (page->startButton.getBounds(), juce::Rectangle<int> (499, 235, 79, 28));
    EXPECT_EQ (page->downloadLink.getBounds(), juce::Rectangle<int> (303, 294, 280, 20));
    EXPECT_EQ (page->versionLabel.getBounds(), juce::Rectangle<int> (380, 244, 100, 17));

    environment.useLanguage ("zh_CN.UTF-8");
    page->setBounds (0, 0, 650, 415);
    page->setBounds (0, 0, 650, 414);
    EXPECT_EQ (page->versionLabel.getBounds(), juce::Rectangle<int> (320, 244, 100, 17));
}

TEST_F (ConnectedPage, ButtonsTakeTheImagesOfTheLanguage)
{
    for (const bool chinese : { false, true })
    {
        environment.useLanguage (chinese ? "zh_CN.UTF-8" : "en_US.UTF-8");
        auto page = makePage();

        EXPECT_EQ (page->updateButton.getNormalImage(), startImage (false, chinese));
        EXPECT_EQ (page->startButton.getNormalImage(), startImage (false, chinese));
        EXPECT_EQ (page->browseButton.getNormalImage(), embeddedImage (BinaryData::browse_button_png, BinaryData::browse_button_pngSize));

        page->setUpdateButtonImage (true);
        EXPECT_EQ (page->startButton.getNormalImage(), startImage (true, chinese));
        EXPECT_EQ (page->startButton.getBounds(), juce::Rectangle<int> (499, 235, 79, 28));
    }
}

//==============================================================================
namespace
{
    ScopedDistinctImages::Resource connectedPageImages[] = {
        { BinaryData::connected_normal_en_full_png, BinaryData::connected_normal_en_full_pngSize },
        { BinaryData::connected_normal_en_mini_png, BinaryData::connected_normal_en_mini_pngSize },
        { BinaryData::connected_normal_zh_full_png, BinaryData::connected_normal_zh_full_pngSize },
        { BinaryData::connected_normal_zh_mini_png, BinaryData::connected_normal_zh_mini_pngSize },
        { BinaryData::connected_update_en_full_png, BinaryData::connected_update_en_full_pngSize },
        { BinaryData::connected_update_en_mini_png, BinaryData::connected_update_en_mini_pngSize },
        { BinaryData::connected_update_zh_full_png, BinaryData::connected_update_zh_full_pngSize },
        { BinaryData::connected_update_zh_mini_png, BinaryData::connected_update_zh_mini_pngSize },
    };

    struct PaintCase
    {
        const char* lang;
        bool fullSize;
        const char* normal;
        const char* update;
    };

    const PaintCase paintCases[] = {
        { "en_US.UTF-8", true,  BinaryData::connected_normal_en_full_png, BinaryData::connected_update_en_full_png },
        { "en_US.UTF-8", false, BinaryData::connected_normal_en_mini_png, BinaryData::connected_update_en_mini_png },
        { "zh_CN.UTF-8", true,  BinaryData::connected_normal_zh_full_png, BinaryData::connected_update_zh_full_png },
        { "zh_CN.UTF-8", false, BinaryData::connected_normal_zh_mini_png, BinaryData::connected_update_zh_mini_png },
    };

    juce::Image updateFaceWithHeading (const juce::Image& background)
    {
        auto image = drawScaledOver (background, 650, 414);
        juce::Graphics g (image);
        g.setFont (juce::Font (12.0f));
        g.setColour (juce::Colours::white);
        g.drawText (juce::translate ("Updated version:"), 270, 244, 103, 17, juce::Justification::left, true);
        return image;
    }

    ScopedDistinctImages standInsForConnectedPage()
    {
        return ScopedDistinctImages ({ connectedPageImages[0], connectedPageImages[1], connectedPageImages[2], connectedPageImages[3],
                                       connectedPageImages[4], connectedPageImages[5], connectedPageImages[6], connectedPageImages[7] },
                                     1300, 828);
    }
}

TEST_F (ConnectedPage, PaintsTheNormalModeImageOfLanguageAndModelWithoutText)
{
    const auto images = standInsForConnectedPage();
    auto page = makePage();

    for (const auto& c : paintCases)
    {
        SCOPED_TRACE (juce::String (c.lang) + (c.fullSize ? " full" : " mini"));
        environment.useLanguage (c.lang);
        ConstVar::getInstance()->isFullSizeModel = c.fullSize;

        EXPECT_TRUE (samePixels (paintOwnFace (*page), drawScaledOver (images[c.normal], 650, 414)));
    }
}

TEST_F (ConnectedPage, PaintsTheUpdateModeImageWithTheTranslatedHeading)
{
    const ScopedEmbeddedTypeface typeface;
    const auto images = standInsForConnectedPage();
    auto page = makePage();
    applyDeviceState (*page, 2);

    for (const auto& c : paintCases)
    {
        SCOPED_TRACE (juce::String (c.lang) + (c.fullSize ? " full" : " mini"));
        environment.useLanguage (c.lang);
        const ScopedTranslations translations (juce::String (c.lang).startsWith ("zh"));
        ConstVar::getInstance()->isFullSizeModel = c.fullSize;

        const auto painted = paintOwnFace (*page);
        EXPECT_TRUE (samePixels (painted, updateFaceWithHeading (images[c.update])));
        EXPECT_FALSE (samePixels (painted, drawScaledOver (images[c.update], 650, 414)));
    }
}

TEST_F (ConnectedPage, StateDecidesTheFaceAndChildren)
{
    auto page = makePage();
    const auto normalFace = paintOwnFace (*page);

    for (const int state : { 0, 2, 3, -1 })
    {
        applyDeviceState (*page, state);
        EXPECT_FALSE (samePixels (paintOwnFace (*page), normalFace)) << state;
    }

    applyDeviceState (*page, 1);
    EXPECT_TRUE (samePixels (paintOwnFace (*page), normalFace));

    for (auto* child : page->getChildren())
        EXPECT_EQ (child->isVisible(), child == &page->updateButton);
}

TEST_F (ConnectedPage, DownloadLinkIsRightAlignedTwelveHighInItsGold)
{
    const ScopedEmbeddedTypeface typeface;
    auto page = makePage();
    auto& link = page->downloadLink;

    EXPECT_EQ (link.getButtonText(), juce::translate ("There's no new firmware yet. Download it"));
    EXPECT_EQ (link.getURL().toString (false), juce::String (SupportPage::address));
    EXPECT_EQ (link.findColour (juce::HyperlinkButton::textColourId), juce::Colour (0xffd9b776));

    auto drawnText = [&link] (float height, juce::Justification justification)
    {
        juce::Image image (juce::Image::ARGB, link.getWidth(), link.getHeight(), true);
        juce::Graphics g (image);
        g.setColour (juce::Colour (0xffd9b776));
        g.setFont (juce::Font (height));
        g.drawText (link.getButtonText(), link.getLocalBounds().reduced (1, 0),
                    justification.getOnlyHorizontalFlags() | juce::Justification::verticallyCentred, true);
        return image;
    };

    const auto shown = snapshotOf (link);
    EXPECT_GT (countVisiblePixels (shown), 0);
    EXPECT_TRUE (samePixels (shown, drawnText (12.0f, juce::Justification::right)));
    EXPECT_FALSE (samePixels (shown, drawnText (12.0f, juce::Justification::horizontallyCentred)));
    EXPECT_FALSE (samePixels (shown, drawnText (14.0f, juce::Justification::right)));
}

//==============================================================================
TEST_F (ConnectedPage, ChosenFileShowsItsVersionAndIsRemembered)
{
    auto page = makePage();
    const auto file = firmwareFolder.writeFile ("norvo.bin", firmwareWithVersion (0x56, 1, 2, 10));

    page->fileChosen (file);

    EXPECT_EQ (page->versionLabel.getText(), "V 1.2.10");
    EXPECT_EQ (page->startButton.getNormalImage(), startImage (true, false));
    EXPECT_EQ (page->startButton.getBounds(), juce::Rectangle<int> (499, 235, 79, 28));
    EXPECT_EQ (page->pathBox.getNumItems(), 1);
    EXPECT_EQ (page->pathBox.getText(), file.getFullPathName());
    EXPECT_EQ (page->pathBox.getSelectedId(), 1);

    // Written at once, not after the settings' save delay.
    EXPECT_EQ (storedFirmwarePath(), file.getFullPathName());
}

TEST_F (ConnectedPage, VersionTextTakesTheFirstByteAsACharacter)
{
    auto page = makePage();

    page->fileChosen (firmwareFolder.writeFile ("a.bin", firmwareWithVersion ('B', 0, 255, 99)));
    EXPECT_EQ (page->versionLabel.getText(), "B 0.255.99");

    page->fileChosen (firmwareFolder.writeFile ("b.bin", firmwareWithVersion (0xe9, 10, 20, 30)));
    EXPECT_EQ (page->versionLabel.getText(), juce::String::charToString (0xe9) + " 10.20.30");

    // Exactly 32 bytes still holds the whole version.
    page->fileChosen (firmwareFolder.writeFile ("c.bin", firmwareWithVersion ('V', 2, 0, 1, 32)));
    EXPECT_EQ (page->versionLabel.getText(), "V 2.0.1");
}

TEST_F (ConnectedPage, ChoosingTheSameFileAgainListsItTwiceAndRewritesNothing)
{
    auto page = makePage();
    const auto file = firmwareFolder.writeFile ("norvo.bin", firmwareWithVersion (0x56, 1, 2, 10));
    page->fileChosen (file);

    // Lay down the same setting in a form the application would not write: a
    // rewrite would replace it.
    const auto handWritten = "<?xml version=\"1.0\"?>\n<PROPERTIES><VALUE name=\"FirmwareDir\" val=\""
                             + file.getFullPathName() + "\"/><!-- by hand --></PROPERTIES>\n";
    ASSERT_TRUE (settingsFile().replaceWithText (handWritten, false, false, "\n"));

    page->fileChosen (file);

    EXPECT_EQ (page->pathBox.getNumItems(), 2);
    EXPECT_EQ (page->pathBox.getItemText (0), page->pathBox.getItemText (1));
    EXPECT_EQ (page->pathBox.getSelectedId(), 2);
    EXPECT_EQ (settingsFile().loadFileAsString(), handWritten);
}

TEST_F (ConnectedPage, ChoosingAnotherFileReplacesTheRememberedPath)
{
    auto page = makePage();
    const auto first = firmwareFolder.writeFile ("first.bin", firmwareWithVersion (0x56, 1, 0, 0));
    const auto second = firmwareFolder.writeFile ("second.bin", firmwareWithVersion (0x56, 1, 2, 10));

    page->fileChosen (first);
    page->fileChosen (second);

    EXPECT_EQ (storedFirmwarePath(), second.getFullPathName());
    EXPECT_EQ (page->pathBox.getNumItems(), 2);
    EXPECT_EQ (page->pathBox.getText(), second.getFullPathName());
}

TEST_F (ConnectedPage, CancelledOrMissingChoiceChangesNothing)
{
    auto page = makePage();

    for (const auto& nothing : { juce::File(), firmwareFolder.getFolder().getChildFile ("gone.bin"), firmwareFolder.getFolder() })
    {
        page->fileChosen (nothing);

        EXPECT_EQ (page->pathBox.getNumItems(), 0);
        EXPECT_TRUE (page->pathBox.getText().isEmpty());
        EXPECT_TRUE (page->versionLabel.getText().isEmpty());
        EXPECT_EQ (page->startButton.getNormalImage(), startImage (false, false));
        EXPECT_FALSE (settingsFile().exists());
    }
}

TEST_F (ConnectedPage, FileTooShortForAVersionShowsNone)
{
    auto page = makePage();

    for (const size_t size : { (size_t) 0, (size_t) 28, (size_t) 31 })
    {
        const auto file = firmwareFolder.writeFile ("short" + juce::String ((int) size) + ".bin",
                                                    firmwareWithVersion (0x56, 1, 2, 10, size));
        page->fileChosen (file);

        EXPECT_TRUE (page->versionLabel.getText().isEmpty()) << size;
        EXPECT_EQ (page->startButton.getNormalImage(), startImage (false, false)) << size;
        EXPECT_EQ (page->pathBox.getText(), file.getFullPathName());
        EXPECT_EQ (storedFirmwarePath(), file.getFullPathName());
    }
}

TEST_F (ConnectedPage, UnreadableFileAfterAGoodOneClearsTheOldVersion)
{
    auto page = makePage();
    page->fileChosen (firmwareFolder.writeFile ("good.bin", firmwareWithVersion (0x56, 1, 2, 10)));

    const auto locked = firmwareFolder.writeFile ("locked.bin", firmwareWithVersion (0x56, 9, 9, 9));
    chmod (locked.getFullPathName().toRawUTF8(), 0);

    if (juce::FileInputStream (locked).openedOk())
        GTEST_SKIP() << "file permissions do not apply to this user";

    page->fileChosen (locked);
    EXPECT_TRUE (page->versionLabel.getText().isEmpty());
    EXPECT_EQ (page->pathBox.getText(), locked.getFullPathName());
}

TEST_F (ConnectedPage, ShortFileAfterAGoodOneClearsTheOldVersion)
{
    auto page = makePage();
    page->fileChosen (firmwareFolder.writeFile ("good.bin", firmwareWithVersion (0x56, 1, 2, 10)));
    page->fileChosen (firmwareFolder.writeFile ("short.bin", firmwareWithVersion (0x56, 1, 2, 10, 30)));

    EXPECT_TRUE (page->versionLabel.getText().isEmpty());
}

TEST_F (ConnectedPage, PickingAnEarlierPathReadsItsVersionAgainWithoutTouchingSettings)
{
    auto page = makePage();
    const auto first = firmwareFolder.writeFile ("first.bin", firmwareWithVersion (0x56, 1, 0, 7));
    const auto second = firmwareFolder.writeFile ("second.bin", firmwareWithVersion (0x56, 1, 2, 10));
    page->fileChosen (first);
    page->fileChosen (second);
    const auto settingsBefore = settingsFile().loadFileAsString();

    page->pathBox.setSelectedId (1, juce::sendNotificationSync);

    EXPECT_EQ (page->versionLabel.getText(), "V 1.0.7");
    EXPECT_EQ (settingsFile().loadFileAsString(), settingsBefore);
    EXPECT_EQ (storedFirmwarePath(), second.getFullPathName());

    // A path whose file has gone since leaves the label as it was.
    ASSERT_TRUE (second.deleteFile());
    page->pathBox.setSelectedId (2, juce::sendNotificationSync);
    EXPECT_EQ (page->versionLabel.getText(), "V 1.0.7");
}

//==============================================================================
TEST_F (ConnectedPage, StartButtonHandsOverThePathEvenIfTheFileHasGone)
{
    auto page = makePage();
    const auto file = firmwareFolder.writeFile ("norvo.bin", firmwareWithVersion (0x56, 1, 2, 10));
    page->fileChosen (file);
    ASSERT_TRUE (file.deleteFile());

    juce::Array<juce::File> started;
    page->onStartUpdate = [&started] (juce::File chosen) { started.add (chosen); };

    page->startButton.triggerClick();
    ASSERT_TRUE (pumpMessagesUntil ([&started] { return ! started.isEmpty(); }));
    pumpMessagesFor (50);

    ASSERT_EQ (started.size(), 1);
    EXPECT_EQ (started.getFirst(), file);
}

TEST_F (ConnectedPage, ButtonsWithoutCallbacksDoNothing)
{
    auto page = makePage();
    page->fileChosen (firmwareFolder.writeFile ("norvo.bin", firmwareWithVersion (0x56, 1, 2, 10)));

    page->startButton.triggerClick();
    page->backupWarningClosed (1);
    pumpMessagesFor (50);
}

TEST_F (ConnectedPage, StartButtonWithNoPathAsksForOneAndStartsNothing)
{
    if (! hasDisplay())
        GTEST_SKIP() << "alerts need a display";

    const ScopedTranslations translations (false);
    auto page = makePage();
    int starts = 0;
    page->onStartUpdate = [&starts] (juce::File) { ++starts; };

    page->startButton.triggerClick();
    ASSERT_TRUE (pumpMessagesUntil ([] { return findShownAlert() != nullptr; }));

    auto* alert = findShownAlert();
    EXPECT_EQ (alert->getName(), juce::String());
    EXPECT_EQ (alert->getDescription(), ". Select a file path");   // title, then message
    EXPECT_EQ (alert->getNumButtons(), 1);
    EXPECT_NE (&alert->getLookAndFeel(), &page->alertLookAndFeel);

    ASSERT_TRUE (dismissAlert (alert, 0));
    EXPECT_EQ (starts, 0);
}

//==============================================================================
TEST_F (ConnectedPage, OnlyContinueEntersUpdateModeOnce)
{
    auto page = makePage();
    int calls = 0;
    page->onEnterUpdateMode = [&calls] { ++calls; };

    for (const int dismissal : { 0, -1, 2, 100 })
        page->backupWarningClosed (dismissal);

    EXPECT_EQ (calls, 0);

    page->backupWarningClosed (1);
    EXPECT_EQ (calls, 1);
}

TEST_F (ConnectedPage, UpdateButtonShowsTheBackupWarning)
{
    if (! hasDisplay())
        GTEST_SKIP() << "alerts need a display";

    const ScopedTranslations translations (true);
    auto page = makePage();
    int calls = 0;
    page->onEnterUpdateMode = [&calls] { ++calls; };

    for (const int result : { 0, 1 })
    {
        page->updateButton.triggerClick();
        ASSERT_TRUE (pumpMessagesUntil ([] { return findShownAlert() != nullptr; }));

        auto* alert = findShownAlert();
        // The accessible description is the title, ". " and the message.
        EXPECT_EQ (alert->getName(), juce::String::fromUTF8 ("提示"));
        EXPECT_EQ (alert->getDescription(), juce::String::fromUTF8 ("提示. 为防止固件更新过程中的意外情况, \n 请务必备份您的音色。 \n 您确定要继续吗？"));
        EXPECT_EQ (alert->getAlertType(), juce::MessageBoxIconType::NoIcon);
        EXPECT_EQ (alert->getNumButtons(), 2);
        EXPECT_EQ (alert->findColour (juce::AlertWindow::backgroundColourId), juce::Colour (0xff27282b));
        EXPECT_EQ (&alert->getLookAndFeel(), &page->alertLookAndFeel);

        ASSERT_TRUE (dismissAlert (alert, result));
        EXPECT_EQ (calls, result);
    }
}

TEST_F (ConnectedPage, WarningOutlivingItsPageIsHarmless)
{
    if (! hasDisplay())
        GTEST_SKIP() << "alerts need a display";

    auto page = makePage();
    int calls = 0;
    page->onEnterUpdateMode = [&calls] { ++calls; };

    page->updateButton.triggerClick();
    ASSERT_TRUE (pumpMessagesUntil ([] { return findShownAlert() != nullptr; }));

    page.reset();
    ASSERT_TRUE (dismissAlert (findShownAlert(), 1));
    EXPECT_EQ (calls, 0);
}

//==============================================================================
TEST_F (ConnectedPage, SettingsAreTheXmlFileInTheUsersHome)
{
    {
        const auto settings = ConnectedView::makeSettingsOptions();
        auto* user = settings->getUserSettings();
        ASSERT_NE (user, nullptr);
        EXPECT_EQ (user->getFile(), settingsFile());
        EXPECT_TRUE (user->getValue ("FirmwareDir").isEmpty());
        EXPECT_FALSE (settingsFile().exists());   // reading alone writes nothing

        user->setValue ("FirmwareDir", "/somewhere/firmware.bin");
    }

    EXPECT_EQ (storedFirmwarePath(), "/somewhere/firmware.bin");
}
