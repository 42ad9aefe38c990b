#include "app/NewProjectApplication.h"
#include "tests/support/AppTesting.h"
#include "tests/support/DeviceStateResponder.h"
#include "tests/support/FirmwareFileBuilder.h"
#include "tests/support/VirtualUpdatePeer.h"
#include "ui/MainComponent.h"
#include "ui/PreferredLanguage.h"

#include <gtest/gtest.h>

#include <optional>

// Sessions of the application with its own window, device link and timers, on a virtual device
// that answers the state requests or, once an update starts, speaks the update protocol.

namespace
{
    const size_t sectionSizes[] = { 1500, 700, 900 };

    struct Session : public ::testing::Test
    {
        static bool hasQuit()   { return juce::MessageManager::getInstance()->hasStopMessageBeenSent(); }

        void SetUp() override
        {
            if (hasQuit())
                GTEST_SKIP() << "an earlier session ended the message loop";

            device.unplug();
            app.initialise ({});
            ASSERT_TRUE (waitFor ([this] { return app.getMainWindow()->isShowing(); }));
        }

        void TearDown() override
        {
            if (! hasQuit())
                dismissAllAlerts();

            app.shutdown();

            if (! hasQuit())
                pumpMessagesFor (20);

            deleteWholeDeviceLink();
        }

        NewProjectApplication::MainWindow& window()   { return *app.getMainWindow(); }
        MainComponent& main()                         { return *dynamic_cast<MainComponent*> (window().getContentComponent()); }
        static bool waitFor (const std::function<bool()>& condition, int ms = 8000)   { return pumpMessagesUntil (condition, ms); }

        /** The device appears in this state; returns once the connected page shows it and both state answers are in. */
        bool plugIn (int state)
        {
            peer.reset();
            responder.emplace (device, state);
            device.plug();
            auto& page = main().getConnectedView();
            const bool shown = waitFor ([&page, state] { return isOnlyPageShown (page) && page.currentState == state; });
            device.waitUntilDelivered();
            pumpMessagesFor (50);
            return shown && isOnlyPageShown (page);
        }

        /** The device leaves the port lists and comes back in this state. */
        bool restart (int state)
        {
            device.unplug();
            return waitFor ([this] { return isOnlyPageShown (main().getDisconnectedView()); }) && plugIn (state);
        }

        /** A firmware file of three sections, version V 1.2.10, started through the connected page. */
        std::unique_ptr<juce::TemporaryFile> startUpdate (const char* model = "MZ-70")
        {
            auto file = FirmwareFileBuilder().model (model).version ('V', 1, 2, 10)
                                             .section (0x00, FirmwareFileBuilder::pattern (sectionSizes[0], 1))
                                             .section (0x01, FirmwareFileBuilder::pattern (sectionSizes[1], 2))
                                             .section (0x10, FirmwareFileBuilder::pattern (sectionSizes[2], 3)).writeTemporary();
            responder.reset();
            peer.emplace (device);
            peer->setBlockSize (64);
            main().getConnectedView().fileChosen (file->getFile());
            main().getConnectedView().startButton.triggerClick();
            return file;
        }

        VirtualMidiDevice device;
        VirtualMidiDevice::ScopedInstall install { device };
        std::optional<DeviceStateResponder> responder;
        std::optional<VirtualUpdatePeer> peer;
        NewProjectApplication app;
    };
}

TEST_F (Session, WithoutADeviceAFixedCentredWindowShowsTheDisconnectedPageAndItsHelp)
{
    EXPECT_EQ (window().getName(), "Norvo USB Updater V1.2.1");
    const auto offset = window().getBounds().getCentre()
                          - juce::Desktop::getInstance().getDisplays().getDisplayForRect (window().getScreenBounds())->userArea.getCentre();
    EXPECT_TRUE (std::abs (offset.x) <= 1 && std::abs (offset.y) <= 1);
    EXPECT_FALSE (window().isResizable());
    EXPECT_EQ (window().getDesktopWindowStyleFlags() & juce::ComponentPeer::windowHasMaximiseButton, 0);

    auto& page = main().getDisconnectedView();
    ASSERT_TRUE (waitFor ([&page] { return isOnlyPageShown (page); }));
    EXPECT_EQ (page.downloadLink->getButtonText(), juce::String::fromUTF8 (isChineseLanguage() ? "还没有新版固件, 去下载>>"
                                                                                               : "There's no new firmware yet. Download it"));
    EXPECT_TRUE (waitFor ([this] { return main().getChildren().getLast()->getBounds() == juce::Rectangle<int> (0, 0, 650, 414); }));   // sized when painted

    page.helpButton->triggerClick();
    ASSERT_TRUE (waitFor ([&page] { return page.helpImage.isVisible() && page.backButton->isVisible() && ! page.helpButton->isVisible(); }));
    page.backButton->triggerClick();
    ASSERT_TRUE (waitFor ([&page] { return page.helpButton->isVisible() && ! page.helpImage.isVisible() && ! page.downloadLink->isVisible(); }));
}

TEST_F (Session, TheWarningSwitchesTheDeviceIntoUpdateModeWhereAChosenFileIsSentToTheEnd)
{
    ASSERT_TRUE (plugIn (1));
    auto& page = main().getConnectedView();
    EXPECT_TRUE (page.updateButton.isVisible() && ! page.pathBox.isVisible());
    page.updateButton.triggerClick();
    auto* alert = waitForAlertWindow();
    ASSERT_NE (alert, nullptr);
    alert->triggerButtonClick (juce::translate ("Continue"));
    ASSERT_TRUE (waitFor ([this] { const auto w = device.getWrittenMessages();
                                   return std::any_of (w.begin(), w.end(), [] (auto& m) { return m.message.getRawDataSize() == 22 && m.message.getRawData()[8] == 0x12; }); }));

    ASSERT_TRUE (restart (2));
    EXPECT_TRUE (page.pathBox.isVisible() && page.browseButton.isVisible() && page.startButton.isVisible()
                   && page.downloadLink.isVisible() && page.versionLabel.isVisible() && ! page.updateButton.isVisible());

    // Without a path, then with a file for the other model: an alert each.
    const auto expectAlert = [&page] (const char* message)
    {
        auto* shown = waitForAlertWindow();
        ASSERT_NE (shown, nullptr);
        EXPECT_EQ (getAlertMessage (*shown), juce::translate (message));
        EXPECT_TRUE (isOnlyPageShown (page));
        dismissAllAlerts();
    };
    page.startButton.triggerClick();
    expectAlert ("Select a file path");
    const auto otherModel = startUpdate ("MZ-9");
    expectAlert ("The firmware file is not compatible with your device. ");
    const auto file = startUpdate();
    EXPECT_EQ (page.versionLabel.getText(), "V 1.2.10");
    auto& progress = main().getUpdateView().progressSlider;
    ASSERT_TRUE (waitFor ([this, &progress] { return isOnlyPageShown (main().getUpdateView()) && peer->isFinished() && progress.getValue() == 1.0; }));
    EXPECT_TRUE (peer->getErrors().isEmpty()) << peer->getErrors().joinIntoString ("\n");
    const auto sections = peer->getSections();
    ASSERT_EQ (sections.size(), 3u);

    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ (sections[i].data, FirmwareFileBuilder::pattern (sectionSizes[i], (int) i + 1));

    // The device restarts with its new firmware.
    ASSERT_TRUE (restart (1));
    EXPECT_EQ (progress.getValue(), 0.0);
}

// Ends the message loop: the last session of this file.
TEST_F (Session, ClosingTheWindowDuringAnUpdateQuitsWithoutAQuestion)
{
    ASSERT_TRUE (plugIn (2));
    const auto file = startUpdate();
    peer->stayQuietAt (VirtualUpdatePeer::Step::block);
    ASSERT_TRUE (waitFor ([this] { return peer->getCount (VirtualUpdatePeer::Step::block) > 0; }));
    EXPECT_TRUE (isOnlyPageShown (main().getUpdateView()));

    window().closeButtonPressed();
    pumpMessagesFor (50);
    EXPECT_TRUE (hasQuit());
    EXPECT_TRUE (findAlertWindows().empty());
    EXPECT_EQ (juce::Component::getCurrentlyModalComponent(), nullptr);
}
