#include "device/ConstVar.h"
#include "tests/support/AppTesting.h"
#include "tests/support/FirmwareFileBuilder.h"
#include "tests/support/MainComponentFixture.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/UpdateCommandRecorder.h"

namespace
{
    using UpdateCommandsTest = MainComponentFixture;

    const juce::String notCompatible = "The firmware file is not compatible with your device. ";

    std::unique_ptr<juce::TemporaryFile> firmwareFor (const char* model)
    {
        return FirmwareFileBuilder().model (model).section (0x00, FirmwareFileBuilder::pattern (40)).writeTemporary();
    }

    bool isStartMessage (const juce::MidiMessage& message)
    {
        const juce::uint8 start[] = { 0xF0, 0x7E, 0x48, 0x01, 0xF7 };
        return message.getRawDataSize() == 5 && std::memcmp (message.getRawData(), start, 5) == 0;
    }
}

TEST_F (UpdateCommandsTest, ProgressIsBlocksDoneOverTotalBlocks)
{
    engine().totalBlocks = 8;
    engine().blocksDone = 6;

    main->handleCommandMessage (updateProgress);
    EXPECT_EQ (main->getUpdateView().progressSlider.getValue(), 0.0);   // posted, not yet applied

    settle();
    EXPECT_DOUBLE_EQ (main->getUpdateView().progressSlider.getValue(), 0.75);
}

TEST_F (UpdateCommandsTest, ARefusedSectionBringsTheAlertAndTheConnectedPageBack)
{
    main->getUpdateView().setVisible (true);
    main->getDisconnectedView().setVisible (false);
    main->getUpdateView().setProgress (0.4);
    engine().blocksDone = 3;
    settle();

    main->handleCommandMessage (sectionRefused);

    auto* alert = waitForAlertWindow();
    ASSERT_NE (alert, nullptr);
    EXPECT_EQ (alert->getName(), juce::String());
    EXPECT_EQ (getAlertMessage (*alert), notCompatible);
    EXPECT_EQ (alert->getAlertType(), juce::MessageBoxIconType::WarningIcon);
    EXPECT_EQ (alert->getNumButtons(), 1);

    settle();
    EXPECT_TRUE (onlyVisiblePageIs (main->getConnectedView()));
    EXPECT_EQ (engine().blocksDone.load(), 0u);
    EXPECT_EQ (main->getUpdateView().progressSlider.getValue(), 0.0);
}

TEST_F (UpdateCommandsTest, OtherCodesChangeNothing)
{
    main->getUpdateView().setVisible (true);
    main->getDisconnectedView().setVisible (false);
    engine().totalBlocks = 4;
    engine().blocksDone = 1;
    main->getUpdateView().setProgress (0.25);
    settle();

    for (int code : { (int) updateStarted, (int) fileNotCompatible, (int) updateFinished,
                      (int) updateFailed, (int) updateTimedOut, 0, 242 })
        main->handleCommandMessage (code);

    settle();
    EXPECT_TRUE (findAlertWindows().empty());
    EXPECT_TRUE (onlyVisiblePageIs (main->getUpdateView()));
    EXPECT_EQ (main->getUpdateView().progressSlider.getValue(), 0.25);
    EXPECT_EQ (engine().blocksDone.load(), 1u);
}

//==============================================================================
TEST_F (UpdateCommandsTest, AFileForTheOtherModelIsRefusedWithNothingSent)
{
    connect();
    allowUserFrames();
    answer (2);
    takeWritten();

    UpdateCommandRecorder recorder;
    engine().setCommandTarget (&recorder);

    ASSERT_TRUE (ConstVar::getInstance()->isFullSizeModel);
    const auto file = firmwareFor ("MZ-9");
    main->getConnectedView().onStartUpdate (file->getFile());

    EXPECT_TRUE (onlyVisiblePageIs (main->getConnectedView()));
    EXPECT_EQ (engine().getUpdatingState(), FirmwareUpdate::idleState);
    EXPECT_EQ (recorder.drain(), (std::vector<int> { updateStarted, fileNotCompatible }));

    auto* alert = waitForAlertWindow();
    ASSERT_NE (alert, nullptr);
    EXPECT_EQ (getAlertMessage (*alert), notCompatible);
    EXPECT_EQ (alert->getAlertType(), juce::MessageBoxIconType::WarningIcon);

    settle();
    EXPECT_TRUE (takeWritten().empty());
}

TEST_F (UpdateCommandsTest, AMissingFileIsRefusedLikeAForeignOne)
{
    main->getDisconnectedView().setVisible (false);
    main->getConnectedView().setVisible (true);

    main->startFirmwareUpdate (juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("no-such-firmware.bin"));

    EXPECT_TRUE (onlyVisiblePageIs (main->getConnectedView()));
    auto* alert = waitForAlertWindow();
    ASSERT_NE (alert, nullptr);
    EXPECT_EQ (getAlertMessage (*alert), notCompatible);
}

TEST_F (UpdateCommandsTest, AnAcceptedFileShowsTheUpdatePageAndSendsStart)
{
    connect();
    allowUserFrames();
    answer (2);
    takeWritten();

    UpdateCommandRecorder recorder;
    engine().setCommandTarget (&recorder);

    const auto file = firmwareFor ("MZ-70");
    main->startFirmwareUpdate (file->getFile());

    EXPECT_TRUE (onlyVisiblePageIs (main->getUpdateView()));
    EXPECT_EQ (engine().getUpdatingState(), 0);
    EXPECT_EQ (engine().getReplyTimeout(), 15000);
    EXPECT_EQ (recorder.drain(), (std::vector<int> { updateStarted, updateStarted }));

    const auto written = takeWritten();
    ASSERT_EQ (written.size(), 1u);
    EXPECT_TRUE (isStartMessage (written[0]));
    EXPECT_TRUE (findAlertWindows().empty());

    // Starting again ends the running update first and sends START once more.
    main->startFirmwareUpdate (file->getFile());
    EXPECT_EQ (recorder.drain(), (std::vector<int> { updateStarted, updateStarted }));
    EXPECT_EQ (engine().getStartRetries(), 0);

    const auto again = takeWritten();
    ASSERT_EQ (again.size(), 1u);
    EXPECT_TRUE (isStartMessage (again[0]));

    engine().resetUpdate();
}
