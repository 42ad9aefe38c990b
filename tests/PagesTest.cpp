#include "device/ConstVar.h"
#include "tests/support/MainComponentFixture.h"

namespace
{
    struct Pages : public MainComponentFixture
    {
        /** Builds the pages again in this language and model, and sizes them as the first paint does. */
        void use (const char* lang, bool fullSize)
        {
            env.set ("LANGUAGE", lang);
            rebuild();
            ConstVar::getInstance()->isFullSizeModel = fullSize;
            drawn (1, 1, [this] (juce::Graphics& g) { main->paint (g); });
        }

        /** A new file of this length whose version bytes, at 28, are 'V', major, 2, 10. */
        juce::File firmware (const juce::String& name, int length = 32, char major = 1)
        {
            juce::MemoryBlock data (32, true);
            data[28] = 'V', data[29] = major, data[30] = 2, data[31] = 10;
            const auto file = home.getChildFile (name);
            return file.create().wasOk() && file.appendData (data.getData(), (size_t) length) ? file : juce::File();
        }
    };
}

TEST_F (Pages, PaintTheImagesOfTheirLanguageAndModel)
{
    for (const juce::String variant : { "en_full", "en_mini", "zh_full", "zh_mini" })
    {
        const auto lang = variant.substring (0, 2);
        use (lang.toRawUTF8(), variant.endsWith ("full"));
        const auto paints = [] (juce::Component& page, const juce::String& image, const juce::String& heading = {})
        {
            const auto expected = drawn (650, 414, [&] (juce::Graphics& g)
            {
                g.drawImage (resourceImage (image + "_png"), 0, 0, 650, 414, 0, 0, 1300, 828);
                g.setColour (juce::Colours::white);
                g.setFont (12.0f);
                g.drawText (heading, 270, 244, 103, 17, juce::Justification::left);
            });
            return samePixels (drawn (650, 414, [&page] (juce::Graphics& g) { page.paint (g); }), expected);
        };

        EXPECT_TRUE (paints (main->getDisconnectedView(), "disconnected_" + lang)) << variant;
        auto& connected = main->getConnectedView();
        EXPECT_TRUE (paints (connected, "connected_normal_" + variant)) << variant;
        EXPECT_TRUE (paints (main->getUpdateView(), "update_" + variant)) << variant;
        connected.currentState = 2;
        EXPECT_TRUE (paints (connected, "connected_update_" + variant, juce::translate ("Updated version:"))) << variant;
        EXPECT_EQ (connected.startButton.getNormalImage(), resourceImage ("start_disabled_" + lang + "_png"));
        connected.fileChosen (firmware (variant));
        EXPECT_EQ (connected.startButton.getNormalImage(), resourceImage ("start_enabled_" + lang + "_png"));
        EXPECT_EQ (connected.versionLabel.getBounds(), juce::Rectangle<int> (lang == "zh" ? 320 : 380, 244, 100, 17));
    }
}

TEST_F (Pages, AChosenFileShowsItsVersionAndIsRememberedAtOnce)
{
    auto& page = main->getConnectedView();
    const auto settings = home.getChildFile (".NorvoUpdate/NorvoUpdate.settings");

    for (const auto& nothing : { juce::File(), home.getChildFile ("gone.bin"), home })   // cancelled, missing, a folder
        page.fileChosen (nothing);

    EXPECT_FALSE (page.pathBox.getNumItems() > 0 || settings.exists());
    const auto earlier = firmware ("earlier.bin", 32, 7), file = firmware ("norvo.bin");
    page.fileChosen (earlier);
    page.fileChosen (file);
    EXPECT_EQ (page.versionLabel.getText() + page.pathBox.getText(), "V 1.2.10" + file.getFullPathName());

    EXPECT_TRUE (settings.loadFileAsString().contains ("name=\"FirmwareDir\" val=\"" + file.getFullPathName() + "\""));   // at once
    page.pathBox.setSelectedId (1, juce::sendNotificationSync);
    EXPECT_EQ (page.versionLabel.getText(), "V 7.2.10");

    // A file too short for a version clears the one shown before.
    for (const auto& [length, version] : { std::pair { 31, "" }, { 32, "V 1.2.10" }, { 0, "" } })
    {
        page.fileChosen (firmware ("cut" + juce::String (length), length));
        EXPECT_EQ (page.versionLabel.getText(), version) << length;
    }
}

// Both start images are larger than the button; the image must not resize it past the page's edge.
TEST_F (Pages, TheStartButtonKeepsItsBoundsWhenAChosenFileEnablesIt)
{
    for (const juce::String lang : { "en", "zh" })
    {
        use ((lang + (lang == "en" ? "_GB" : "_CN")).toRawUTF8(), true);
        connect();
        answer (2);   // update mode: the file controls are shown
        auto& page = main->getConnectedView();
        ASSERT_TRUE (isOnlyPageShown (page) && page.startButton.isVisible()) << lang;
        ASSERT_EQ (page.getBounds().toString(), juce::String ("0 0 650 414")) << lang;

        for (const juce::String image : { "start_disabled_", "start_enabled_" })
        {
            EXPECT_EQ (page.startButton.getNormalImage(), resourceImage (image + lang + "_png")) << lang;
            EXPECT_EQ (page.startButton.getBounds().toString(), juce::String ("499 235 79 28")) << image << lang;
            EXPECT_TRUE (page.getLocalBounds().contains (page.startButton.getBounds())) << image << lang;
            page.fileChosen (firmware ("norvo-" + lang + ".bin"));
        }
    }
}

// Mouse events go in through the window's peer, as the windowing system delivers them.
TEST_F (Pages, ADragAClickAndTheWheelLeaveTheProgressBarWhereTheProgramSetIt)
{
    if (std::getenv ("DISPLAY") == nullptr)
        GTEST_SKIP() << "mouse events are delivered through a window";

    use ("en_GB", true);
    auto& page = main->getUpdateView();
    auto& bar = page.progressSlider;
    main->getDisconnectedView().setVisible (false);
    page.setVisible (true);
    main->setVisible (true);
    main->addToDesktop (0);
    auto* peer = main->getPeer();
    ASSERT_NE (peer, nullptr);

    using Type = juce::MouseInputSource::InputSourceType;
    const auto area = main->getLocalArea (&bar, bar.getLocalBounds()).toFloat();   // in the window
    const auto left = area.getX() + 20.0f, right = area.getRight() - 10.0f, y = area.getCentreY();
    const juce::ModifierKeys pressed (juce::ModifierKeys::leftButtonModifier);
    auto time = juce::Time::currentTimeMillis();
    const auto send = [&] (float x, juce::ModifierKeys mods)
    {
        peer->handleMouseEvent (Type::mouse, { x, y }, mods, juce::MouseInputSource::defaultPressure,
                                juce::MouseInputSource::defaultOrientation, ++time);
    };

    for (const auto& [gesture, from, to, wheel] : { std::tuple { "drag to the right", left, right, 0.0f },
                                                    { "drag to the left", right, left, 0.0f },
                                                    { "click", right, right, 0.0f },
                                                    { "wheel up", left, left, 0.5f },
                                                    { "wheel down", left, left, -0.5f } })
    {
        page.setProgress (0.4);
        settle();   // the value is posted to the message thread
        ASSERT_EQ (bar.getValue(), 0.4) << gesture;

        if (wheel != 0.0f)
        {
            // The bar ignores the wheel by itself too, not only through the slider's wheel setting.
            for (const bool wheelSetting : { true, false })
            {
                bar.setScrollWheelEnabled (wheelSetting);
                peer->handleMouseWheel (Type::mouse, { from, y }, ++time, { 0.0f, wheel, false, false, false });
            }

            EXPECT_EQ (juce::Desktop::getInstance().getMainMouseSource().getComponentUnderMouse(), &bar) << gesture;   // it reached the bar
        }
        else
        {
            send (from, {});
            send (from, pressed);
            EXPECT_TRUE (bar.isMouseButtonDown()) << gesture;   // the press reached the bar
            send ((from + to) / 2.0f, pressed);
            send (to, pressed);
            send (to, {});
        }

        EXPECT_EQ (bar.getValue(), 0.4) << gesture;
    }
}

TEST_F (Pages, AnEmptyPathIsAskedForAndOnlyContinueInTheBackUpWarningEntersUpdateModeWhileThePageLives)
{
    if (std::getenv ("DISPLAY") == nullptr)
        GTEST_SKIP() << "alert windows need a display";

    use ("zh", true);
    int calls = 0;
    main->getConnectedView().onEnterUpdateMode = [&calls] { ++calls; };
    main->getConnectedView().startButton.triggerClick();   // no file chosen yet
    EXPECT_EQ (waitForAlertWindow() != nullptr ? getAlertMessage (*waitForAlertWindow()) : "(none)", juce::String::fromUTF8 ("请选择文件路径"));
    dismissAllAlerts();

    for (const auto& [result, pageGoesFirst, callsSoFar] : { std::tuple { 0, false, 0 }, { 1, false, 1 }, { 1, true, 1 } })
    {
        main->getConnectedView().updateButton.triggerClick();
        ASSERT_NE (waitForAlertWindow(), nullptr);
        EXPECT_EQ (waitForAlertWindow()->getDescription(), juce::String::fromUTF8 ("提示. 为防止固件更新过程中的意外情况, \n 请务必备份您的音色。 \n 您确定要继续吗？"));

        if (pageGoesFirst)
            main = nullptr;

        dismissAllAlerts (result);
        EXPECT_EQ (calls, callsSoFar) << result << pageGoesFirst;
    }
}

// Pressed through the page of a connected device in its normal mode: "继续" switches it into update mode, "取消" does not.
TEST_F (Pages, InChineseTheBackUpWarningAndItsTwoButtonsComeFromTheChineseTable)
{
    if (std::getenv ("DISPLAY") == nullptr)
        GTEST_SKIP() << "alert windows need a display";

    const std::vector<juce::uint8> modeSwitch { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A, 0x12, 0x04, 0x00,
                                                0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 };
    use ("zh_CN", true);
    connect();
    answer (1);
    auto& page = main->getConnectedView();
    ASSERT_TRUE (isOnlyPageShown (page) && page.updateButton.isVisible());

    for (const bool continued : { false, true })
    {
        const auto pressed = juce::String::fromUTF8 (continued ? "继续" : "取消");
        takeWritten();
        page.updateButton.triggerClick();
        auto* alert = waitForAlertWindow();
        ASSERT_NE (alert, nullptr);
        EXPECT_EQ (alert->getName() + "|" + getAlertMessage (*alert),
                   juce::String::fromUTF8 ("提示|为防止固件更新过程中的意外情况, \n 请务必备份您的音色。 \n 您确定要继续吗？"));
        EXPECT_EQ (alert->getAlertType(), juce::MessageBoxIconType::NoIcon);

        std::vector<juce::TextButton*> buttons;

        for (auto* child : alert->getChildren())
            if (auto* button = dynamic_cast<juce::TextButton*> (child))
                buttons.push_back (button);

        std::sort (buttons.begin(), buttons.end(), [] (auto* a, auto* b) { return a->getX() < b->getX(); });
        ASSERT_EQ (buttons.size(), 2u);
        EXPECT_EQ (buttons[0]->getButtonText() + "|" + buttons[1]->getButtonText(), juce::String::fromUTF8 ("取消|继续"));

        const auto toPress = std::find_if (buttons.begin(), buttons.end(), [&pressed] (auto* b) { return b->getButtonText() == pressed; });
        ASSERT_NE (toPress, buttons.end()) << pressed;
        (*toPress)->triggerClick();
        EXPECT_TRUE (pumpMessagesUntil ([] { return findAlertWindows().empty(); }));

        // The device-state request may go out meanwhile; only the mode switch counts here.
        const auto written = takeWritten();
        EXPECT_EQ (std::count (written.begin(), written.end(), modeSwitch), continued ? 1 : 0) << pressed;
    }
}

TEST_F (Pages, TheHelpButtonAndTheBackArrowSwitchBetweenTheDisconnectedPageFaces)
{
    auto& page = main->getDisconnectedView();
    const auto face = [&page] { return visibility ({ page.helpButton.get(), page.backButton.get(), page.downloadLink.get(), &page.helpImage }); };

    EXPECT_EQ (face(), "1000");

    for (const auto& [button, expected] : { std::pair { page.helpButton.get(), "0111" }, { page.backButton.get(), "1000" },
                                            { page.helpButton.get(), "0111" }, { page.backButton.get(), "1000" } })
    {
        button->triggerClick();
        settle();
        EXPECT_EQ (face(), expected);
    }
}

TEST_F (Pages, TheFileDialogOpensAtTheStoredFileAndOffersOnlyBinFiles)
{
    if (std::getenv ("DISPLAY") == nullptr || juce::FileChooser::isPlatformDialogAvailable())
        GTEST_SKIP() << "the framework's own dialog is shown only with a display and without zenity or kdialog";

    const auto browser = []() -> juce::FileBrowserComponent*
    {
        if (auto* dialog = dynamic_cast<juce::FileChooserDialogBox*> (juce::Component::getCurrentlyModalComponent()))
            for (auto* child : dialog->getContentComponent()->getChildren())
                if (auto* found = dynamic_cast<juce::FileBrowserComponent*> (child))
                    return found;

        return nullptr;
    };

    const auto stored = firmware ("stored.bin");
    auto& page = main->getConnectedView();

    // What "FirmwareDir" holds, and where the dialog then opens with which file.
    for (const auto& [setting, root, file] : { std::tuple { stored.getFullPathName(), home, stored },
                                               { juce::String(), juce::File::getCurrentWorkingDirectory(), juce::File::getCurrentWorkingDirectory() } })
    {
        ConnectedView::makeSettingsOptions()->getUserSettings()->setValue ("FirmwareDir", setting);
        page.browseButton.triggerClick();
        ASSERT_TRUE (pumpMessagesUntil ([&browser] { return browser() != nullptr; })) << setting;

        auto& dialog = *browser();
        EXPECT_EQ (dialog.getRoot(), root) << setting;
        EXPECT_EQ (dialog.getSelectedFile (0), file) << setting;
        EXPECT_TRUE (dialog.isFileSuitable (home.getChildFile ("other.bin")) && ! dialog.isFileSuitable (home.getChildFile ("other.txt")));

        dialog.getTopLevelComponent()->exitModalState (0);
        EXPECT_TRUE (pumpMessagesUntil ([&browser] { return browser() == nullptr; }));
    }

    EXPECT_EQ (page.pathBox.getNumItems(), 0);   // a cancelled dialog changes nothing
}
