#include "tests/support/FirmwareFileBuilder.h"
#include "tests/support/MainComponentFixture.h"

using UpdateCommandsTest = MainComponentFixture;

TEST_F (UpdateCommandsTest, ProgressMovesTheBarARefusedSectionGoesBackAndOtherCodesChangeNothing)
{
    main->getUpdateView().setVisible (true);
    main->getDisconnectedView().setVisible (false);
    engine().totalBlocks = 8;
    engine().blocksDone = 6;

    for (int code : { updateProgress, updateStarted, fileNotCompatible, updateFinished, updateFailed, updateTimedOut })
        main->handleCommandMessage (code);

    settle();
    EXPECT_TRUE (findAlertWindows().empty() && isOnlyPageShown (main->getUpdateView()));
    EXPECT_DOUBLE_EQ (main->getUpdateView().progressSlider.getValue(), 0.75);

    main->handleCommandMessage (sectionRefused);
    ASSERT_NE (waitForAlertWindow(), nullptr);
    EXPECT_EQ (getAlertMessage (*waitForAlertWindow()), "The firmware file is not compatible with your device. ");
    EXPECT_TRUE (isOnlyPageShown (main->getConnectedView()));
    EXPECT_EQ (engine().blocksDone.load(), 0u);
}

TEST_F (UpdateCommandsTest, AnAcceptedFileShowsTheUpdatePageAndSendsStart)
{
    connect();
    answer (2);
    takeWritten();
    const auto file = FirmwareFileBuilder().section (0x00, FirmwareFileBuilder::pattern (40)).writeTemporary();
    main->getConnectedView().onStartUpdate (file->getFile());
    EXPECT_TRUE (isOnlyPageShown (main->getUpdateView()));
    settle();
    EXPECT_EQ (takeWritten(), (std::vector<std::vector<juce::uint8>> { { 0xF0, 0x7E, 0x48, 0x01, 0xF7 } }));
    engine().resetUpdate();
}
