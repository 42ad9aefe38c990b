#include <gtest/gtest.h>

#include "tests/support/MessageLoop.h"
#include "tests/support/PageTesting.h"
#include "ui/ConnectedView.h"
#include "ui/DisconnectedView.h"
#include "ui/SupportPage.h"
#include "ui/UpdateView.h"

namespace
{
    /** What MainComponent does with a device state. */
    void showDeviceState (ConnectedView& page, int state)
    {
        page.currentState = state;
        page.updateButton.setVisible (state == 1);

        for (juce::Component* child : std::initializer_list<juce::Component*> { &page.pathBox, &page.browseButton, &page.startButton,
                                                                                &page.downloadLink, &page.versionLabel })
            child->setVisible (state != 1);
    }

    juce::AlertWindow* shownAlert()
    {
        auto& modal = *juce::ModalComponentManager::getInstance();
        return modal.getNumModalComponents() > 0 ? dynamic_cast<juce::AlertWindow*> (modal.getModalComponent (0)) : nullptr;
    }

    /** Waits for an alert, checks it, dismisses it and waits until it has answered and gone. */
    void answerAlert (int result, const std::function<void (juce::AlertWindow&)>& check)
    {
        ASSERT_TRUE (pumpMessagesUntil ([] { return shownAlert() != nullptr; }));
        juce::Component::SafePointer<juce::AlertWindow> alert (shownAlert());
        check (*alert);
        alert->exitModalState (result);
        ASSERT_TRUE (pumpMessagesUntil ([&alert] { return alert == nullptr; }));
    }

    struct ConnectedPage : public testing::Test
    {
        ConnectedPage()     { page->setBounds (0, 0, 650, 414); }

        /** A firmware file of some length whose version bytes are 'V', major, 2, 10. */
        juce::File firmware (const juce::String& name, int length = 136, juce::uint8 major = 1)
        {
            juce::MemoryBlock data (136, true);
            const juce::uint8 version[] = { 'V', major, 2, 10 };
            data.copyFrom (version, 28, 4);
            const auto file = surroundings.scratch.getChildFile (name);
            file.create();
            file.appendData (data.getData(), (size_t) length);
            return file;
        }

        juce::File settingsFile() const     { return surroundings.home.getChildFile (".NorvoUpdate/NorvoUpdate.settings"); }

        juce::String storedPath() const
        {
            const auto xml = juce::parseXML (settingsFile());
            const auto* value = xml != nullptr && xml->hasTagName ("PROPERTIES") ? xml->getChildByAttribute ("name", "FirmwareDir") : nullptr;
            return value != nullptr ? value->getStringAttribute ("val") : "-";
        }

        PageSurroundings surroundings;
        std::unique_ptr<ConnectedView> page = std::make_unique<ConnectedView>();
    };
}

TEST_F (ConnectedPage, StartsInStateOneAndLaysOutItsChildren)
{
    EXPECT_EQ (page->currentState, 1);
    EXPECT_FALSE (page->pathBox.isTextEditable());
    EXPECT_EQ (page->updateButton.getNormalImage(), resourceImage ("start_disabled_en_png"));
    EXPECT_EQ (page->startButton.getNormalImage(), resourceImage ("start_disabled_en_png"));
    EXPECT_EQ (page->browseButton.getNormalImage(), resourceImage ("browse_button_png"));

    EXPECT_EQ (page->updateButton.getBounds(), juce::Rectangle<int> (286, 349, 79, 28));
    EXPECT_EQ (page->pathBox.getBounds(), juce::Rectangle<int> (270, 186, 270, 28));
    EXPECT_EQ (page->browseButton.getBounds(), juce::Rectangle<int> (550, 186, 28, 28));
    EXPECT_EQ (page->startButton.getBounds(), juce::Rectangle<int> (499, 235, 79, 28));
    EXPECT_EQ (page->downloadLink.getBounds(), juce::Rectangle<int> (303, 294, 280, 20));
    EXPECT_EQ (page->versionLabel.getBounds(), juce::Rectangle<int> (380, 244, 100, 17));

    surroundings.useLanguage ("zh");
    page->resized();
    EXPECT_EQ (page->versionLabel.getBounds(), juce::Rectangle<int> (320, 244, 100, 17));

    EXPECT_EQ (page->downloadLink.getURL().toString (false), SupportPage::address);
    EXPECT_TRUE (linkLooks (page->downloadLink, juce::Colour (0xffd9b776), 12.0f, juce::Justification::right));
}

TEST_F (ConnectedPage, PaintsTheImageOfStateLanguageAndModelWithTheHeadingInUpdateMode)
{
    surroundings.useEmbeddedTypeface();

    for (const juce::String variant : { "en_full", "en_mini", "zh_full", "zh_mini" })
    {
        SCOPED_TRACE (variant);
        surroundings.useLanguage (variant.substring (0, 2));
        surroundings.useModel (variant.endsWith ("full"));

        showDeviceState (*page, 1);
        EXPECT_TRUE (samePixels (paintOwnFace (*page), scaledToPage (resourceImage ("connected_normal_" + variant + "_png"))));

        showDeviceState (*page, 0);
        auto expected = scaledToPage (resourceImage ("connected_update_" + variant + "_png"));
        juce::Graphics g (expected);
        g.setFont (juce::Font (12.0f));
        g.setColour (juce::Colours::white);
        g.drawText (juce::translate ("Updated version:"), 270, 244, 103, 17, juce::Justification::left, true);
        EXPECT_TRUE (samePixels (paintOwnFace (*page), expected));
    }
}

TEST_F (ConnectedPage, ChosenFileShowsItsVersionAndIsRememberedOnceWhilePickingAnEarlierOneChangesNoSettings)
{
    page->fileChosen (firmware ("first.bin", 136, 7));
    const auto file = firmware ("norvo.bin");
    page->fileChosen (file);

    EXPECT_EQ (page->versionLabel.getText(), "V 1.2.10");
    EXPECT_EQ (page->startButton.getNormalImage(), resourceImage ("start_enabled_en_png"));
    EXPECT_EQ (page->pathBox.getText(), file.getFullPathName());
    EXPECT_EQ (storedPath(), file.getFullPathName());   // at once, not after the save delay

    // A hand-written copy of the same setting would be replaced by any rewrite.
    const auto handWritten = "<PROPERTIES><VALUE name=\"FirmwareDir\" val=\"" + file.getFullPathName() + "\"/></PROPERTIES>";
    settingsFile().replaceWithText (handWritten);
    page->fileChosen (file);
    EXPECT_EQ (page->pathBox.getNumItems(), 3);
    EXPECT_EQ (page->pathBox.getSelectedId(), 3);

    page->pathBox.setSelectedId (1, juce::sendNotificationSync);
    EXPECT_EQ (page->versionLabel.getText(), "V 7.2.10");

    file.deleteFile();
    page->pathBox.setSelectedId (2, juce::sendNotificationSync);
    EXPECT_EQ (page->versionLabel.getText(), "V 7.2.10");
    EXPECT_EQ (settingsFile().loadFileAsString(), handWritten);
}

TEST_F (ConnectedPage, CancelledMissingOrShortFilesShowNoVersion)
{
    for (const auto& nothing : { juce::File(), surroundings.scratch.getChildFile ("gone.bin"), surroundings.scratch })
        page->fileChosen (nothing);

    EXPECT_EQ (page->pathBox.getNumItems(), 0);
    EXPECT_FALSE (settingsFile().exists());

    page->fileChosen (firmware ("short.bin", 31));
    EXPECT_TRUE (page->versionLabel.getText().isEmpty());
    EXPECT_EQ (page->startButton.getNormalImage(), resourceImage ("start_disabled_en_png"));
    EXPECT_EQ (storedPath(), surroundings.scratch.getChildFile ("short.bin").getFullPathName());

    page->fileChosen (firmware ("exact.bin", 32));
    EXPECT_EQ (page->versionLabel.getText(), "V 1.2.10");
    page->fileChosen (firmware ("empty.bin", 0));
    EXPECT_TRUE (page->versionLabel.getText().isEmpty());   // no stale version beside another file
}

TEST_F (ConnectedPage, ButtonsCallBackOnlyWithAPathOrOnContinue)
{
    const auto file = firmware ("norvo.bin");
    page->fileChosen (file);
    file.deleteFile();
    page->startButton.triggerClick();   // no callbacks set: nothing happens
    page->backupWarningClosed (1);
    pumpMessagesFor (20);

    juce::StringArray calls;
    page->onStartUpdate = [&calls] (juce::File chosen) { calls.add (chosen.getFullPathName()); };
    page->onEnterUpdateMode = [&calls] { calls.add ("update mode"); };
    page->startButton.triggerClick();
    pumpMessagesFor (20);

    for (const int result : { 0, -1, 2, 1 })
        page->backupWarningClosed (result);

    EXPECT_EQ (calls, juce::StringArray (file.getFullPathName(), "update mode"));
}

TEST_F (ConnectedPage, AlertsAskForAPathOrWarnToBackUp)
{
    if (std::getenv ("DISPLAY") == nullptr)
        GTEST_SKIP() << "alert windows need a display";

    surroundings.useLanguage ("zh");
    int calls = 0;
    page->onStartUpdate = [&calls] (juce::File) { ++calls; };
    page->onEnterUpdateMode = [&calls] { ++calls; };

    page->startButton.triggerClick();
    answerAlert (1, [this] (juce::AlertWindow& alert)
    {
        EXPECT_EQ (alert.getDescription(), juce::String::fromUTF8 (". 请选择文件路径"));   // title, ". ", message
        EXPECT_NE (&alert.getLookAndFeel(), &page->alertLookAndFeel);
    });
    EXPECT_EQ (calls, 0);

    page->updateButton.triggerClick();
    answerAlert (1, [this] (juce::AlertWindow& alert)
    {
        EXPECT_EQ (alert.getDescription(), juce::String::fromUTF8 ("提示. 为防止固件更新过程中的意外情况, \n 请务必备份您的音色。 \n 您确定要继续吗？"));
        EXPECT_EQ (alert.getNumButtons(), 2);
        EXPECT_EQ (alert.findColour (juce::AlertWindow::backgroundColourId), juce::Colour (0xff27282b));
        EXPECT_EQ (&alert.getLookAndFeel(), &page->alertLookAndFeel);
    });
    EXPECT_EQ (calls, 1);

    page->updateButton.triggerClick();   // a warning outliving its page answers nobody
    answerAlert (1, [this] (juce::AlertWindow&) { page.reset(); });
    EXPECT_EQ (calls, 1);
}

TEST_F (ConnectedPage, WritesEveryPageFaceForALookByEye)
{
    const auto folder = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getSiblingFile ("snapshots");
    folder.createDirectory();
    surroundings.useEmbeddedTypeface();

    auto write = [&folder] (juce::Component& face, const juce::String& name)
    {
        folder.getChildFile (name + ".png").deleteFile();
        juce::FileOutputStream out (folder.getChildFile (name + ".png"));
        EXPECT_TRUE (juce::PNGImageFormat().writeImageToStream (face.createComponentSnapshot (face.getLocalBounds()), out));
    };

    for (const juce::String variant : { "en_full", "en_mini", "zh_full", "zh_mini" })
    {
        surroundings.useLanguage (variant.substring (0, 2));
        surroundings.useModel (variant.endsWith ("full"));
        DisconnectedView disconnected;
        ConnectedView connected;
        UpdateView update;

        for (juce::Component* face : std::initializer_list<juce::Component*> { &disconnected, &connected, &update })
            face->setBounds (0, 0, 650, 414);

        write (disconnected, "disconnected_" + variant);
        disconnected.showHelpPage();
        write (disconnected, "help_" + variant);
        showDeviceState (connected, 1);
        write (connected, "connected_normal_" + variant);
        showDeviceState (connected, 2);
        connected.fileChosen (firmware ("sample.bin"));
        write (connected, "connected_update_" + variant);
        update.progressSlider.setValue (0.4);
        write (update, "update_" + variant);
    }
}
