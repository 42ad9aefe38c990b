#include "firmware/FirmwareUpdate.h"
#include "tests/e2e/AppSession.h"
#include "tests/support/FirmwareFileBuilder.h"

// Whole sessions with the application's own window, on real timers; each session builds
// its own application and device link.

namespace
{
    struct Session : public AppSession
    {
        /** The device leaves the port lists and comes back with this state. */
        void restartDevice (int state, const char* snapshotWhileAway)
        {
            norvo->unplug();
            ASSERT_TRUE (waitForPage (main().getDisconnectedView()));
            snapshot (snapshotWhileAway);

            norvo->setState (state);
            norvo->plug();
            auto& page = main().getConnectedView();
            ASSERT_TRUE (waitFor ([&page, state] { return isOnlyPageShown (page) && page.currentState == state; }, 8000));
        }

        /** Chooses the test firmware through the page and starts it, pausing at this block. */
        void startUpdate (const juce::File& file, int pauseAtBlock, const char* snapshotOfChoice = nullptr)
        {
            norvo->peer.setBlockSize (64);
            main().getConnectedView().fileChosen (file);

            if (snapshotOfChoice != nullptr)
                snapshot (snapshotOfChoice);

            norvo->pauseUpdateAtBlock (pauseAtBlock);
            main().getConnectedView().startButton.triggerClick();
            ASSERT_TRUE (waitForPage (main().getUpdateView()));
        }
    };

    const size_t sectionSizes[] = { 1500, 700, 900 };

    /** A full-size firmware file of three sections, version V 1.2.10. */
    std::unique_ptr<juce::TemporaryFile> makeFirmware (const char* model = "MZ-70")
    {
        return FirmwareFileBuilder().model (model).version ('V', 1, 2, 10)
                                    .section (0x00, FirmwareFileBuilder::pattern (sectionSizes[0], 1))
                                    .section (0x01, FirmwareFileBuilder::pattern (sectionSizes[1], 2))
                                    .section (0x10, FirmwareFileBuilder::pattern (sectionSizes[2], 3))
                                    .writeTemporary();
    }

    bool isUpdateMessage (const juce::MidiMessage& m)
    {
        return m.getRawDataSize() >= 3 && m.getRawData()[1] == 0x7E && m.getRawData()[2] == 0x48;
    }

    bool isModeSwitch (const juce::MidiMessage& m)
    {
        return m.getRawDataSize() == 22 && m.getRawData()[8] == 0x12 && m.getRawData()[15] == 0x02;
    }
}

//==============================================================================
TEST_F (Session, WithoutADeviceAFixedCentredWindowShowsTheDisconnectedPageAndItsHelp)
{
    EXPECT_EQ (window().getName(), "Norvo USB Updater V1.2.1");
    const auto offset = window().getBounds().getCentre()
                          - juce::Desktop::getInstance().getDisplays().getDisplayForRect (window().getScreenBounds())->userArea.getCentre();
    EXPECT_TRUE (std::abs (offset.x) <= 1 && std::abs (offset.y) <= 1);
    EXPECT_FALSE (window().isResizable());
    EXPECT_EQ (window().getDesktopWindowStyleFlags() & juce::ComponentPeer::windowHasMaximiseButton, 0);

    auto& page = main().getDisconnectedView();
    ASSERT_TRUE (waitForPage (page));
    EXPECT_TRUE (page.helpButton->isVisible());
    snapshot ("1-1-disconnected");

    for (auto* eachPage : main().getChildren())
        EXPECT_EQ (eachPage->getBounds(), juce::Rectangle<int> (0, 0, 650, 414));

    page.helpButton->triggerClick();
    ASSERT_TRUE (waitFor ([&page] { return page.helpImage.isVisible(); }));
    EXPECT_FALSE (page.helpButton->isVisible());
    EXPECT_TRUE (page.backButton->isVisible() && page.downloadLink->isVisible());
    snapshot ("1-2-help");

    page.backButton->triggerClick();
    ASSERT_TRUE (waitFor ([&page] { return page.helpButton->isVisible(); }));
    EXPECT_FALSE (page.helpImage.isVisible() || page.backButton->isVisible() || page.downloadLink->isVisible());
    snapshot ("1-3-back");
}

TEST_F (Session, ADeviceInNormalModeIsAskedForItsStateAndKeptThroughTheHandshake)
{
    ASSERT_TRUE (plugAndWaitForConnection());

    // The state request goes out about a second after the connection.
    ASSERT_TRUE (waitFor ([this] { return ! informationRequestTimes().empty(); }, 3000));
    EXPECT_NEAR (informationRequestTimes()[0] - connectedAt, 1000.0, 250.0);

    auto& page = main().getConnectedView();
    ASSERT_TRUE (waitForPage (page));
    EXPECT_EQ (page.currentState, 1);
    EXPECT_TRUE (page.updateButton.isVisible());
    EXPECT_FALSE (page.pathBox.isVisible() || page.startButton.isVisible());
    snapshot ("2-1-connected-normal");

    // Four handshake frames, one second apart, after the request itself.
    ASSERT_TRUE (waitFor ([this] { return informationRequestTimes().size() >= 5; }, 7000));
    const auto times = informationRequestTimes();

    for (size_t i = 2; i < times.size(); ++i)
        EXPECT_NEAR (times[i] - times[i - 1], 1000.0, 250.0);

    // The fifth tick finds the last frame answered: the connection stays, no further frame.
    pumpMessagesFor (1600);
    EXPECT_EQ (informationRequestTimes().size(), 5u);
    EXPECT_EQ (norvo->device.getNumStartedInputs(), 1);
    EXPECT_TRUE (isOnlyPageShown (page));
    EXPECT_FALSE (main().isTimerRunning (MainComponent::handshakeTimerId));
    EXPECT_FALSE (main().isTimerRunning (MainComponent::watchdogTimerId));
}

TEST_F (Session, ContinueInTheWarningSwitchesTheDeviceIntoUpdateMode)
{
    ASSERT_TRUE (bringUpDevice (1));
    auto& page = main().getConnectedView();

    page.updateButton.triggerClick();
    auto* warning = waitForAlertWindow();
    ASSERT_NE (warning, nullptr);
    EXPECT_EQ (warning->getNumButtons(), 2);
    snapshot ("3-1-backup-warning");

    warning->triggerButtonClick (juce::translate ("Continue"));
    ASSERT_TRUE (waitFor ([this] { return writeTimes (isModeSwitch).size() == 1; }));
    ASSERT_TRUE (waitFor ([] { return findAlertWindows().empty(); }));

    restartDevice (2, "3-2-restarting");
    EXPECT_FALSE (page.updateButton.isVisible());
    EXPECT_TRUE (page.pathBox.isVisible() && page.browseButton.isVisible() && page.startButton.isVisible()
                   && page.downloadLink.isVisible() && page.versionLabel.isVisible());
    snapshot ("3-3-connected-update-mode");
}

TEST_F (Session, AChosenFileIsSentWhileTheProgressBarMovesToTheEnd)
{
    ASSERT_TRUE (bringUpDevice (2));
    auto& page = main().getConnectedView();
    auto& progress = main().getUpdateView().progressSlider;

    // Blocks: 24 + 11 + 15 = 50; the update stops after the 20th for a snapshot.
    const auto firmware = makeFirmware();
    startUpdate (firmware->getFile(), 20, "4-1-file-chosen");
    EXPECT_EQ (page.pathBox.getText(), firmware->getFile().getFullPathName());
    EXPECT_EQ (page.versionLabel.getText(), "V 1.2.10");

    ASSERT_TRUE (waitFor ([&progress] { return progress.getValue() >= 19.0 / 50.0; }));
    EXPECT_LT (progress.getValue(), 20.0 / 50.0);
    snapshot ("4-2-updating");

    norvo->peer.sendWithheldReply();
    ASSERT_TRUE (waitFor ([this, &progress] { return norvo->peer.isFinished() && progress.getValue() == 1.0; }, 10000));
    EXPECT_TRUE (norvo->peer.getErrors().isEmpty()) << norvo->peer.getErrors().joinIntoString ("\n");

    const auto sections = norvo->peer.getSections();
    ASSERT_EQ (sections.size(), 3u);

    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ (sections[i].data, FirmwareFileBuilder::pattern (sectionSizes[i], (int) i + 1));

    EXPECT_TRUE (isOnlyPageShown (main().getUpdateView()));
    snapshot ("4-3-updated");

    // The device restarts with its new firmware; the pages follow.
    restartDevice (1, "4-4-restarting");
    EXPECT_EQ (progress.getValue(), 0.0);
    snapshot ("4-5-restarted");
}

TEST_F (Session, AFileForTheOtherModelIsRefusedAndAnEmptyPathAsksForOne)
{
    ASSERT_TRUE (bringUpDevice (2));
    auto& page = main().getConnectedView();

    page.startButton.triggerClick();
    auto* alert = waitForAlertWindow();
    ASSERT_NE (alert, nullptr);
    EXPECT_EQ (getAlertMessage (*alert), juce::translate ("Select a file path"));
    snapshot ("5-1-no-path");
    dismissAllAlerts();

    const auto miniFirmware = makeFirmware ("MZ-9");
    page.fileChosen (miniFirmware->getFile());
    page.startButton.triggerClick();

    alert = waitForAlertWindow();
    ASSERT_NE (alert, nullptr);
    EXPECT_EQ (getAlertMessage (*alert), juce::translate ("The firmware file is not compatible with your device. "));
    EXPECT_TRUE (isOnlyPageShown (page));
    snapshot ("5-2-not-compatible");
    EXPECT_TRUE (writeTimes (isUpdateMessage).empty());
}

TEST_F (Session, ADeviceThatNeverAnswersIsClosedByTheWatchdogEveryTime)
{
    norvo->setAnswersLeft (0);

    for (int round = 0; round < 2; ++round)
    {
        ASSERT_TRUE (plugAndWaitForConnection());
        const auto connected = connectedAt;

        ASSERT_TRUE (waitForClosedPorts (5000));
        EXPECT_NEAR (norvo->getLastCloseTime() - connected, 3000.0, 250.0);
        EXPECT_TRUE (waitForPage (main().getDisconnectedView()));
        EXPECT_TRUE (main().isTimerRunning (MainComponent::watchdogTimerId));
    }

    snapshot ("6-1-silent-device-closed");
}

TEST_F (Session, ADeviceThatStopsAnsweringIsClosedAfterTheFifthTick)
{
    // The request and the state read are answered, no handshake frame is.
    norvo->setAnswersLeft (2);
    ASSERT_TRUE (bringUpDevice (1));
    snapshot ("6-2-connected-before-silence");

    ASSERT_TRUE (waitFor ([this] { return informationRequestTimes().size() >= 5; }, 7000));
    const auto lastFrame = informationRequestTimes().back();

    ASSERT_TRUE (waitForClosedPorts (3000));
    EXPECT_NEAR (norvo->getLastCloseTime() - lastFrame, 1000.0, 250.0);
    ASSERT_TRUE (waitForPage (main().getDisconnectedView()));
    EXPECT_EQ (main().getHandshakeCount(), 0);
    snapshot ("6-3-silent-handshake-closed");
}

// Ends the message loop: keep it the last session of this file.
TEST_F (Session, ClosingTheWindowDuringAnUpdateQuitsWithoutAQuestion)
{
    ASSERT_TRUE (bringUpDevice (2));
    const auto firmware = makeFirmware();
    startUpdate (firmware->getFile(), 10);

    ASSERT_TRUE (waitFor ([this] { return main().getUpdateView().progressSlider.getValue() > 0.1; }));
    EXPECT_EQ (main().getFirmwareUpdate()->getUpdatingState(), 3);

    window().closeButtonPressed();
    pumpMessagesFor (50);

    EXPECT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());
    EXPECT_TRUE (findAlertWindows().empty());
    EXPECT_EQ (juce::Component::getCurrentlyModalComponent(), nullptr);
}
