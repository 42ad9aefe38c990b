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
    settle();
    EXPECT_EQ (main->getUpdateView().progressSlider.getValue(), 0.0);   // the bar goes back too
}
