#include "device/PresetManager.h"
#include "tests/support/MainComponentFixture.h"

#include <thread>

using MainComponentTest = MainComponentFixture;
using Frames = std::vector<std::vector<juce::uint8>>;

// An empty record in one data packet: the handshake (command 0x11, record 0x2001) and the mode switch (0x12, 0x2000).
static const Frames frames { { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A, 0x11, 0x04, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 },
                             { 0xF0, 0x21, 0x25, 0x7E, 0x4D, 0x5A, 0x2D, 0x0A, 0x12, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 } };

TEST_F (MainComponentTest, TheWatchdogAndTheHandshakeKeepOnlyADeviceThatAnswersAndTheModeSwitchGoesOutWhenAllowed)
{
    auto& page = main->getConnectedView();
    auto& disconnected = main->getDisconnectedView();
    const auto closed = [this, &disconnected] { settle(); return ! manager().getPortPair().hasInput() && linkState() == stateDisconnected && isOnlyPageShown (disconnected); };

    connect (false);
    main->timerCallback (MainComponent::watchdogTimerId);
    EXPECT_TRUE (closed() && main->isTimerRunning (MainComponent::watchdogTimerId));   // and again until an answer comes

    connect (false);
    answer (2);
    EXPECT_FALSE (main->isTimerRunning (MainComponent::watchdogTimerId) || main->isTimerRunning (MainComponent::handshakeTimerId));
    EXPECT_TRUE (isOnlyPageShown (page));
    answer (1);
    takeWritten();
    handshakeTick (4);
    EXPECT_TRUE (takeWritten().empty());   // counted, but not sent before user frames are allowed

    // Only state 1 answers: the fifth tick closes the device.
    answer (2);
    handshakeTick();
    EXPECT_TRUE (closed());

    // Within a cycle no answer switches the page, and an answer to the last frame keeps the device.
    connect (false);
    answer (1);
    page.setVisible (false);
    handshakeTick (4);
    answer (1);
    handshakeTick();
    EXPECT_TRUE (manager().getPortPair().hasInput() && ! main->isTimerRunning (MainComponent::handshakeTimerId) && ! page.isVisible());

    for (const bool allowed : { false, true })
    {
        manager().isCanSendUserMsg = allowed;
        testing::internal::CaptureStdout();
        page.onEnterUpdateMode();
        EXPECT_EQ (testing::internal::GetCapturedStdout(), "21,25,7E,4D,5A,2D,0A,12,04,00,00,00,00,00,02,00,00,00,00,00,");
        EXPECT_EQ (takeWritten(), allowed ? Frames { frames[1] } : Frames {});
    }

    // The device goes in the middle of the next cycle: once the posted part has run, the cycle is over and the pages start over.
    answer (1);
    handshakeTick (4);
    EXPECT_EQ (takeWritten(), Frames (4, frames[0]));
    disconnected.showHelpPage();
    engine().blocksDone = 7;
    main->getUpdateView().setProgress (0.5);
    device.unplug();
    manager().timerCallback();
    EXPECT_TRUE (closed() && main->getHandshakeCount() == 0 && ! main->isTimerRunning (MainComponent::handshakeTimerId));
    EXPECT_EQ (visibility ({ disconnected.helpButton.get(), disconnected.backButton.get(), disconnected.downloadLink.get(), &disconnected.helpImage }), "1000");
    EXPECT_EQ ((double) engine().blocksDone.load() + main->getUpdateView().progressSlider.getValue(), 0.0);
}

TEST_F (MainComponentTest, TimersRunUnderTheirIdsAndEachDeviceStateShowsOnlyItsControls)
{
    const auto intervals = [this] { return std::pair { main->getTimerInterval (234567), main->getTimerInterval (123456) }; };
    connect (false);
    EXPECT_EQ (intervals(), std::pair (3000, 0));

    auto& page = main->getConnectedView();

    for (const int state : { 1, 2, 1, 0, 1 })
    {
        answer (state);
        EXPECT_EQ (visibility ({ &page.updateButton, &page.pathBox, &page.browseButton, &page.startButton, &page.downloadLink, &page.versionLabel }),
                   state == 1 ? "100000" : "011111") << state;
    }

    EXPECT_EQ (intervals(), std::pair (0, 1000));

    // Only these ids tick: 123456 counts a handshake frame, 234567 closes the device.
    for (const int id : { 0, 1000, 3000, 123456 })
        main->timerCallback (id);

    EXPECT_TRUE (main->getHandshakeCount() == 1 && manager().getPortPair().hasInput());
    main->timerCallback (234567);
    EXPECT_FALSE (manager().getPortPair().hasInput());
}

TEST_F (MainComponentTest, ProgressFromAnyThreadIsAppliedOnTheMessageThreadAndClosingWithADeviceConnectedLeavesNothingBehind)
{
    auto& progress = main->getUpdateView().progressSlider;
    progress.onValueChange = [] { FAIL() << "nothing listens to the progress"; };
    main->getUpdateView().setProgress (0.5);
    EXPECT_EQ (progress.getValue(), 0.0);
    EXPECT_TRUE (pumpMessagesUntil ([&progress] { return progress.getValue() == 0.5; }));
    std::thread ([this] { main->getUpdateView().setProgress (-3.0); main->getUpdateView().setProgress (1.7); }).join();
    settle();
    EXPECT_EQ (progress.getValue(), 1.0);   // the last one, held at the range's end

    connect();
    answer (1);
    juce::Component::SafePointer<juce::Component> engineLeft (main->getFirmwareUpdate());
    main->getUpdateView().setProgress (0.2);
    main = nullptr;
    EXPECT_TRUE (device.getNumStartedInputs() == 0 && engineLeft == nullptr);
    PresetManager::getInstance()->deviceConnected();   // nobody is left to call, and the posted progress finds no page
    PresetManager::getInstance()->deviceDisconnected();
    settle();
}
