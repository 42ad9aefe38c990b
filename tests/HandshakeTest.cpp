#include "device/MIDIUSBFsm.h"
#include "device/PresetManager.h"
#include "tests/support/AppTesting.h"
#include "tests/support/MainComponentFixture.h"
#include "tests/support/MessageLoop.h"

#include <atomic>
#include <thread>

namespace
{
    using HandshakeTest = MainComponentFixture;

    const std::vector<juce::uint8> handshakeFrame { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A,
                                                    0x11, 0x04, 0x00, 0x00, 0x00,
                                                    0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 };

    const std::vector<juce::uint8> modeSwitchFrame { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A,
                                                     0x12, 0x04, 0x00, 0x00, 0x00,
                                                     0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 };

    bool showsOnlyTheUpdateButton (ConnectedView& page)
    {
        return page.updateButton.isVisible() && ! page.pathBox.isVisible() && ! page.browseButton.isVisible()
                 && ! page.startButton.isVisible() && ! page.downloadLink.isVisible() && ! page.versionLabel.isVisible();
    }

    bool showsTheFileControls (ConnectedView& page)
    {
        return ! page.updateButton.isVisible() && page.pathBox.isVisible() && page.browseButton.isVisible()
                 && page.startButton.isVisible() && page.downloadLink.isVisible() && page.versionLabel.isVisible();
    }
}

TEST_F (HandshakeTest, TheAnswerChoosesTheFaceAndOnlyNormalModeStartsAHandshake)
{
    connect();
    answer (2);

    EXPECT_TRUE (onlyVisiblePageIs (main->getConnectedView()));
    EXPECT_EQ (main->getConnectedView().currentState, 2);
    EXPECT_TRUE (showsTheFileControls (main->getConnectedView()));
    EXPECT_FALSE (main->isTimerRunning (MainComponent::handshakeTimerId));
    EXPECT_FALSE (main->isTimerRunning (MainComponent::watchdogTimerId));

    answer (1);

    EXPECT_EQ (main->getConnectedView().currentState, 1);
    EXPECT_TRUE (showsOnlyTheUpdateButton (main->getConnectedView()));
    EXPECT_TRUE (main->isTimerRunning (MainComponent::handshakeTimerId));
    EXPECT_EQ (main->getTimerInterval (MainComponent::handshakeTimerId), 1000);
    EXPECT_TRUE (main->isHandshakeAnswered());
    EXPECT_EQ (main->getHandshakeCount(), 0);
}

TEST_F (HandshakeTest, FourFramesThenASilentDeviceIsClosed)
{
    connect();
    allowUserFrames();
    answer (1);
    takeWritten();

    for (int frame = 1; frame <= 4; ++frame)
    {
        main->timerCallback (MainComponent::handshakeTimerId);
        EXPECT_FALSE (main->isHandshakeAnswered());
        EXPECT_EQ (main->getHandshakeCount(), frame);
    }

    const auto written = takeWritten();
    ASSERT_EQ (written.size(), 4u);

    for (auto& message : written)
        EXPECT_EQ (bytesOf (message), handshakeFrame);

    main->timerCallback (MainComponent::handshakeTimerId);

    EXPECT_EQ (linkState(), (juce::uint32) stateDisconnected);
    EXPECT_FALSE (portPair().hasInput() || portPair().hasOutput());
    EXPECT_EQ (main->getHandshakeCount(), 0);
    EXPECT_FALSE (main->isTimerRunning (MainComponent::handshakeTimerId));

    settle();
    EXPECT_TRUE (onlyVisiblePageIs (main->getDisconnectedView()));
    EXPECT_TRUE (takeWritten().empty());
}

TEST_F (HandshakeTest, AnswersInsideACycleOnlyMarkTheDevice)
{
    connect();
    answer (1);
    main->timerCallback (MainComponent::handshakeTimerId);

    // Inside a cycle no page switch is posted: a page hidden here stays hidden.
    main->getConnectedView().setVisible (false);

    answer (2);
    EXPECT_FALSE (main->isHandshakeAnswered());
    EXPECT_EQ (main->getConnectedView().currentState, 1);
    EXPECT_FALSE (main->getConnectedView().isVisible());

    answer (1);
    EXPECT_TRUE (main->isHandshakeAnswered());
    EXPECT_FALSE (main->getConnectedView().isVisible());
    EXPECT_EQ (main->getHandshakeCount(), 1);
}

TEST_F (HandshakeTest, AnAnswerBeforeTheFirstTickSwitchesThePageAgain)
{
    connect();
    answer (1);
    main->getConnectedView().setVisible (false);

    answer (1);

    EXPECT_TRUE (main->getConnectedView().isVisible());
    EXPECT_TRUE (main->isTimerRunning (MainComponent::handshakeTimerId));
    EXPECT_EQ (main->getHandshakeCount(), 0);
}

TEST_F (HandshakeTest, FramesBeforeTheGateOpensAreCountedButNotSent)
{
    connect();
    answer (1);
    takeWritten();

    main->sendHandshake();

    EXPECT_EQ (main->getHandshakeCount(), 1);
    EXPECT_TRUE (takeWritten().empty());
}

TEST_F (HandshakeTest, ADisconnectionEndsTheCycleAndReturnsToTheFirstPage)
{
    connect();
    allowUserFrames();
    answer (1);
    main->timerCallback (MainComponent::handshakeTimerId);
    main->timerCallback (MainComponent::handshakeTimerId);

    main->getDisconnectedView().showHelpPage();
    engine().blocksDone = 7;
    main->getUpdateView().setProgress (0.5);
    settle();

    device.unplug();
    tick();
    ASSERT_EQ (linkState(), (juce::uint32) stateDisconnected);

    // The reaction is posted: nothing has changed yet.
    EXPECT_EQ (main->getHandshakeCount(), 2);

    settle();
    EXPECT_EQ (main->getHandshakeCount(), 0);
    EXPECT_FALSE (main->isTimerRunning (MainComponent::handshakeTimerId));
    EXPECT_TRUE (onlyVisiblePageIs (main->getDisconnectedView()));

    auto& page = main->getDisconnectedView();
    EXPECT_TRUE (page.helpButton->isVisible());
    EXPECT_FALSE (page.backButton->isVisible() || page.downloadLink->isVisible() || page.helpImage.isVisible());

    EXPECT_EQ (engine().blocksDone.load(), 0u);
    EXPECT_EQ (main->getUpdateView().progressSlider.getValue(), 0.0);
}

TEST_F (HandshakeTest, TheModeSwitchPrintsItsBytesAndSendsTheFrameOnlyWhenAllowed)
{
    connect();
    answer (1);
    takeWritten();

    const juce::String expectedDump = "21,25,7E,4D,5A,2D,0A,12,04,00,00,00,00,00,02,00,00,00,00,00,";

    EXPECT_EQ (captureStandardOutput ([this] { main->enterUpdateMode(); }), expectedDump);
    EXPECT_TRUE (takeWritten().empty());

    allowUserFrames();
    EXPECT_EQ (captureStandardOutput ([this] { main->enterUpdateMode(); }), expectedDump);

    const auto written = takeWritten();
    ASSERT_EQ (written.size(), 1u);
    EXPECT_EQ (bytesOf (written[0]), modeSwitchFrame);

    // Nothing else follows from it.
    EXPECT_TRUE (onlyVisiblePageIs (main->getConnectedView()));
    EXPECT_FALSE (main->isTimerRunning (MainComponent::watchdogTimerId));
}

TEST_F (HandshakeTest, AnswersFromAnotherThreadMeetTheTicksSafely)
{
    connect();
    allowUserFrames();
    answer (1);

    std::atomic<bool> stop { false };
    std::thread answers ([&stop]
    {
        for (int i = 0; ! stop && i < 5000; ++i)
            PresetManager::getInstance()->deviceState (i % 3 == 0 ? 2 : 1);
    });

    for (int i = 0; i < 50; ++i)
    {
        main->timerCallback (MainComponent::handshakeTimerId);
        pumpMessagesFor (1);
    }

    stop = true;
    answers.join();
    settle();

    EXPECT_GE (main->getHandshakeCount(), 0);
    EXPECT_LE (main->getHandshakeCount(), 4);
}
