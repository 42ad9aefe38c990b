#include "device/PresetManager.h"
#include "tests/support/MainComponentFixture.h"
#include "tests/support/MessageLoop.h"

#include <atomic>
#include <thread>

using HandshakeTest = MainComponentFixture;

TEST_F (HandshakeTest, OnlyNormalModeStartsACycleAndOnlyBeforeItsFirstTickAnAnswerSwitchesThePage)
{
    connect (false);
    answer (2);
    EXPECT_FALSE (main->isTimerRunning (MainComponent::handshakeTimerId));

    answer (1);
    EXPECT_EQ (main->getConnectedView().currentState, 1);
    EXPECT_EQ (main->getTimerInterval (MainComponent::handshakeTimerId), 1000);

    // Before the first tick an answer switches the page again: a hidden page comes back.
    main->getConnectedView().setVisible (false);
    answer (1);
    EXPECT_TRUE (main->getConnectedView().isVisible());
    EXPECT_TRUE (main->isTimerRunning (MainComponent::handshakeTimerId));

    // The first frame is counted although the gate is still closed, and not sent.
    takeWritten();
    handshakeTick();
    EXPECT_EQ (main->getHandshakeCount(), 1);
    EXPECT_FALSE (main->isHandshakeAnswered());
    EXPECT_TRUE (takeWritten().empty());

    // Inside the cycle no page switch is posted: the hidden page stays hidden.
    main->getConnectedView().setVisible (false);
    answer (2);
    EXPECT_FALSE (main->isHandshakeAnswered());
    EXPECT_EQ (main->getConnectedView().currentState, 1);

    answer (1);
    EXPECT_TRUE (main->isHandshakeAnswered());
    EXPECT_FALSE (main->getConnectedView().isVisible());
    EXPECT_EQ (main->getHandshakeCount(), 1);
}

TEST_F (HandshakeTest, ADisconnectionEndsTheCycleAndReturnsToTheFirstPage)
{
    connect();
    answer (1);
    handshakeTick();
    handshakeTick();

    main->getDisconnectedView().showHelpPage();
    engine().blocksDone = 7;
    main->getUpdateView().setProgress (0.5);
    settle();

    device.unplug();
    manager().timerCallback();
    ASSERT_EQ (linkState(), (juce::uint32) stateDisconnected);
    EXPECT_EQ (main->getHandshakeCount(), 2);   // the reaction is posted

    settle();
    EXPECT_EQ (main->getHandshakeCount(), 0);
    EXPECT_FALSE (main->isTimerRunning (MainComponent::handshakeTimerId));
    EXPECT_TRUE (isOnlyPageShown (main->getDisconnectedView()));

    auto& page = main->getDisconnectedView();
    EXPECT_TRUE (page.helpButton->isVisible());
    EXPECT_FALSE (page.backButton->isVisible() || page.downloadLink->isVisible() || page.helpImage.isVisible());
    EXPECT_EQ (engine().blocksDone.load(), 0u);
    EXPECT_EQ (main->getUpdateView().progressSlider.getValue(), 0.0);
}

TEST_F (HandshakeTest, TheModeSwitchPrintsItsBytesAndSendsTheFrameOnlyWhenAllowed)
{
    const std::vector<juce::uint8> frame { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A, 0x12, 0x04, 0x00,
                                           0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 };
    connect (false);
    answer (1);
    takeWritten();

    for (const bool allowed : { false, true })
    {
        SCOPED_TRACE (allowed);
        manager().isCanSendUserMsg = allowed;

        testing::internal::CaptureStdout();
        main->enterUpdateMode();
        EXPECT_EQ (testing::internal::GetCapturedStdout(), "21,25,7E,4D,5A,2D,0A,12,04,00,00,00,00,00,02,00,00,00,00,00,");
        EXPECT_EQ (takeWritten(), allowed ? std::vector<std::vector<juce::uint8>> { frame }
                                          : std::vector<std::vector<juce::uint8>> {});
    }

    EXPECT_TRUE (isOnlyPageShown (main->getConnectedView()));
    EXPECT_FALSE (main->isTimerRunning (MainComponent::watchdogTimerId));
}

TEST_F (HandshakeTest, AnswersFromAnotherThreadMeetTheTicksSafely)
{
    connect();
    answer (1);

    std::atomic<bool> stop { false };
    std::thread answers ([&stop]
    {
        for (int i = 0; ! stop && i < 5000; ++i)
            PresetManager::getInstance()->deviceState (i % 3 == 0 ? 2 : 1);
    });

    for (int i = 0; i < 50; ++i)
    {
        handshakeTick();
        pumpMessagesFor (1);
    }

    stop = true;
    answers.join();
    settle();

    EXPECT_GE (main->getHandshakeCount(), 0);
    EXPECT_LE (main->getHandshakeCount(), 4);
}
