#include "tests/support/FirmwareFileBuilder.h"
#include "tests/support/MainComponentFixture.h"
#include "tests/support/UpdateCommandRecorder.h"

namespace
{
    using UpdateCommandsTest = MainComponentFixture;

    const juce::String notCompatible = "The firmware file is not compatible with your device. ";

    std::unique_ptr<juce::TemporaryFile> firmwareFor (const char* model)
    {
        return FirmwareFileBuilder().model (model).section (0x00, FirmwareFileBuilder::pattern (40)).writeTemporary();
    }

    void expectNotCompatibleAlert()
    {
        auto* alert = waitForAlertWindow();
        ASSERT_NE (alert, nullptr);
        EXPECT_EQ (alert->getName(), juce::String());
        EXPECT_EQ (getAlertMessage (*alert), notCompatible);
        EXPECT_EQ (alert->getAlertType(), juce::MessageBoxIconType::WarningIcon);
        EXPECT_EQ (alert->getNumButtons(), 1);
    }

    const std::vector<juce::uint8> start { 0xF0, 0x7E, 0x48, 0x01, 0xF7 };
}

TEST_F (UpdateCommandsTest, ProgressMovesOtherCodesChangeNothingARefusedSectionGoesBack)
{
    main->getUpdateView().setVisible (true);
    main->getDisconnectedView().setVisible (false);
    engine().totalBlocks = 8;
    engine().blocksDone = 6;

    main->handleCommandMessage (updateProgress);
    EXPECT_EQ (main->getUpdateView().progressSlider.getValue(), 0.0);   // posted, not yet applied
    settle();
    EXPECT_DOUBLE_EQ (main->getUpdateView().progressSlider.getValue(), 0.75);

    for (int code : { (int) updateStarted, (int) fileNotCompatible, (int) updateFinished,
                      (int) updateFailed, (int) updateTimedOut, 0, 242 })
        main->handleCommandMessage (code);

    settle();
    EXPECT_TRUE (findAlertWindows().empty());
    EXPECT_TRUE (isOnlyPageShown (main->getUpdateView()));
    EXPECT_DOUBLE_EQ (main->getUpdateView().progressSlider.getValue(), 0.75);
    EXPECT_EQ (engine().blocksDone.load(), 6u);

    main->handleCommandMessage (sectionRefused);
    expectNotCompatibleAlert();
    settle();
    EXPECT_TRUE (isOnlyPageShown (main->getConnectedView()));
    EXPECT_EQ (engine().blocksDone.load(), 0u);
    EXPECT_EQ (main->getUpdateView().progressSlider.getValue(), 0.0);
}

TEST_F (UpdateCommandsTest, AForeignOrMissingFileIsRefusedWithNothingSent)
{
    connect();
    answer (2);
    takeWritten();

    const auto miniFile = firmwareFor ("MZ-9");
    const auto missing = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("no-such-firmware.bin");

    for (const auto& file : { miniFile->getFile(), missing })
    {
        SCOPED_TRACE (file.getFileName());
        main->getConnectedView().onStartUpdate (file);

        EXPECT_TRUE (isOnlyPageShown (main->getConnectedView()));
        EXPECT_EQ (engine().getUpdatingState(), FirmwareUpdate::idleState);
        expectNotCompatibleAlert();
        settle();
        EXPECT_TRUE (takeWritten().empty());
        dismissAllAlerts();
    }
}

TEST_F (UpdateCommandsTest, AnAcceptedFileSendsStartAndStartingAgainEndsTheRunningUpdateFirst)
{
    connect();
    answer (2);
    takeWritten();

    UpdateCommandRecorder recorder;
    engine().setCommandTarget (&recorder);
    const auto file = firmwareFor ("MZ-70");

    for (int round = 0; round < 2; ++round)
    {
        SCOPED_TRACE (round);
        main->startFirmwareUpdate (file->getFile());

        EXPECT_TRUE (isOnlyPageShown (main->getUpdateView()));
        EXPECT_EQ (engine().getUpdatingState(), 0);
        EXPECT_EQ (engine().getStartRetries(), 0);
        EXPECT_EQ (engine().getReplyTimeout(), 15000);
        EXPECT_EQ (recorder.drain(), (std::vector<int> { updateStarted, updateStarted }));
        EXPECT_EQ (takeWritten(), std::vector<std::vector<juce::uint8>> { start });
        EXPECT_TRUE (findAlertWindows().empty());
    }

    engine().resetUpdate();
}
