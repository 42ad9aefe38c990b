#include "tests/support/FirmwareFileBuilder.h"
#include "tests/support/MainComponentFixture.h"
#include "tests/support/UpdateCommandRecorder.h"

using UpdateCommandsTest = MainComponentFixture;

TEST_F (UpdateCommandsTest, ProgressMovesTheBarARefusedSectionGoesBackAndOtherCodesChangeNothing)
{
    main->getUpdateView().setVisible (true);
    main->getDisconnectedView().setVisible (false);
    engine().totalBlocks = 8;
    engine().blocksDone = 6;

    for (int code : { (int) updateProgress, (int) updateStarted, (int) fileNotCompatible, (int) updateFinished, (int) updateFailed, (int) updateTimedOut })
        main->handleCommandMessage (code);

    settle();
    EXPECT_TRUE (findAlertWindows().empty());
    EXPECT_TRUE (isOnlyPageShown (main->getUpdateView()));
    EXPECT_DOUBLE_EQ (main->getUpdateView().progressSlider.getValue(), 0.75);

    main->handleCommandMessage (sectionRefused);
    ASSERT_NE (waitForAlertWindow(), nullptr);
    EXPECT_EQ (getAlertMessage (*waitForAlertWindow()), "The firmware file is not compatible with your device. ");
    EXPECT_TRUE (isOnlyPageShown (main->getConnectedView()));
    EXPECT_EQ (engine().blocksDone.load(), 0u);
}

TEST_F (UpdateCommandsTest, AFileIsCheckedBeforeStartAndStartingAgainEndsTheRunningUpdateFirst)
{
    connect();
    answer (2);
    takeWritten();
    UpdateCommandRecorder recorder;
    engine().setCommandTarget (&recorder);
    const auto mini = FirmwareFileBuilder().model ("MZ-9").writeTemporary();
    const auto full = FirmwareFileBuilder().section (0x00, FirmwareFileBuilder::pattern (40)).writeTemporary();

    main->getConnectedView().onStartUpdate (mini->getFile());
    EXPECT_TRUE (isOnlyPageShown (main->getConnectedView()));
    EXPECT_EQ (recorder.drain(), (std::vector<int> { updateStarted, fileNotCompatible }));
    auto* alert = waitForAlertWindow();
    ASSERT_NE (alert, nullptr);
    EXPECT_EQ (getAlertMessage (*alert), "The firmware file is not compatible with your device. ");
    EXPECT_EQ (alert->getAlertType(), juce::MessageBoxIconType::WarningIcon);
    dismissAllAlerts();

    for (int round = 0; round < 2; ++round)
    {
        main->getConnectedView().onStartUpdate (full->getFile());
        EXPECT_TRUE (isOnlyPageShown (main->getUpdateView()));
        EXPECT_EQ (engine().getUpdatingState(), 0);
        EXPECT_EQ (recorder.drain(), (std::vector<int> { updateStarted, updateStarted }));
        settle();
        EXPECT_EQ (engine().getStartRetries(), 0);
        EXPECT_EQ (takeWritten(), (std::vector<std::vector<juce::uint8>> { { 0xF0, 0x7E, 0x48, 0x01, 0xF7 } }));
        engine().timerCallback (FirmwareUpdate::replyTimerId);   // START again: the update runs on
        ASSERT_EQ (engine().getStartRetries(), 1);
        takeWritten();
    }

    engine().resetUpdate();
}
