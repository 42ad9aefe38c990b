#include "app/NewProjectApplication.h"
#include "firmware/FirmwareUpdate.h"
#include "tests/support/AppTesting.h"
#include "tests/support/DeviceStateResponder.h"
#include "tests/support/FirmwareFileBuilder.h"
#include "tests/support/VirtualUpdatePeer.h"
#include "ui/MainComponent.h"
#include "ui/PreferredLanguage.h"

#include <gtest/gtest.h>

#include <optional>

// A standalone application, as the real one (thread-safe Xlib included); the sessions make the application object.
static const bool standalone = (juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; }, true);

/** The application with its own window, device link and timers, in a home folder of its own, on a virtual
    device that answers the state requests or, once an update starts, speaks the update protocol.
*/
struct Session : public ::testing::Test
{
    static bool waitFor (const std::function<bool()>& condition)   { return pumpMessagesUntil (condition, 8000); }
    NewProjectApplication::MainWindow& window()                    { return *app.getMainWindow(); }
    MainComponent& main()                                          { return *dynamic_cast<MainComponent*> (window().getContentComponent()); }

    void SetUp() override
    {
        home.createDirectory();
        env.set ("HOME", home.getFullPathName().toRawUTF8());
        device.unplug();
        app.initialise ({});
        ASSERT_TRUE (waitFor ([this] { return window().isShowing(); }));
    }

    void TearDown() override
    {
        app.shutdown();
        deleteWholeDeviceLink();
        home.deleteRecursively();
    }

    /** The device appears in this state; true once the connected page shows it and both state answers are in. */
    bool plugIn (int state)
    {
        responder.emplace (device, state);
        device.plug();
        auto& page = main().getConnectedView();
        const bool shown = waitFor ([&page, state] { return isOnlyPageShown (page) && page.currentState == state; });
        device.waitUntilDelivered();
        pumpMessagesFor (50);
        return shown;
    }

    const juce::File home = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("norvo-" + juce::Uuid().toString());
    ScopedEnv env;
    VirtualMidiDevice device;
    VirtualMidiDevice::ScopedInstall install { device };
    std::optional<DeviceStateResponder> responder;
    std::optional<VirtualUpdatePeer> peer;
    NewProjectApplication app;
};

// The only session: closing the window ends the message loop.
TEST_F (Session, TheDeviceIsSwitchedIntoUpdateModeAndUpdatedThroughThePagesAndClosingDuringAnUpdateQuitsWithoutAQuestion)
{
    EXPECT_EQ (window().getName(), "Norvo USB Updater V1.2.1");
    const auto offset = window().getBounds().getCentre()
                          - juce::Desktop::getInstance().getDisplays().getDisplayForRect (window().getScreenBounds())->userArea.getCentre();
    EXPECT_TRUE (std::abs (offset.x) <= 1 && std::abs (offset.y) <= 1);
    EXPECT_FALSE (window().isResizable() || (window().getDesktopWindowStyleFlags() & juce::ComponentPeer::windowHasMaximiseButton) != 0);
    auto& disconnected = main().getDisconnectedView();
    ASSERT_TRUE (waitFor ([&disconnected] { return isOnlyPageShown (disconnected) && disconnected.getBounds() == juce::Rectangle<int> (0, 0, 650, 414); }));
    EXPECT_EQ (disconnected.downloadLink->getButtonText(), juce::String::fromUTF8 (isChineseLanguage() ? "还没有新版固件, 去下载>>" : "There's no new firmware yet. Download it"));

    ASSERT_TRUE (plugIn (1));
    auto& page = main().getConnectedView();
    page.updateButton.triggerClick();
    auto* warning = waitForAlertWindow();
    ASSERT_NE (warning, nullptr);
    warning->triggerButtonClick (juce::translate ("Continue"));
    ASSERT_TRUE (waitFor ([this] { const auto w = device.getWrittenMessages();
                                   return std::any_of (w.begin(), w.end(), [] (auto& m) { return m.message.getRawDataSize() == 22 && m.message.getRawData()[8] == 0x12; }); }));

    // The device restarts in update mode and gets the chosen file.
    device.unplug();
    ASSERT_TRUE (waitFor ([&disconnected] { return isOnlyPageShown (disconnected); }) && plugIn (2));
    EXPECT_TRUE (page.pathBox.isVisible() && page.startButton.isVisible() && page.versionLabel.isVisible() && ! page.updateButton.isVisible());
    const size_t sizes[] = { 1500, 700, 900 };
    const auto file = FirmwareFileBuilder().version ('V', 1, 2, 10).section (0x00, FirmwareFileBuilder::pattern (sizes[0], 1))
                          .section (0x01, FirmwareFileBuilder::pattern (sizes[1], 2)).section (0x10, FirmwareFileBuilder::pattern (sizes[2], 3)).writeTemporary();
    const auto start = [this, &page, &file]
    {
        responder.reset();
        peer.emplace (device);
        peer->setBlockSize (64);
        page.fileChosen (file->getFile());
        page.startButton.triggerClick();
    };

    start();
    EXPECT_EQ (page.versionLabel.getText(), "V 1.2.10");
    auto& progress = main().getUpdateView().progressSlider;
    ASSERT_TRUE (waitFor ([this, &progress] { return isOnlyPageShown (main().getUpdateView()) && peer->isFinished() && progress.getValue() == 1.0; }));
    EXPECT_TRUE (peer->getErrors().isEmpty()) << peer->getErrors().joinIntoString ("\n");
    ASSERT_EQ (peer->getSections().size(), 3u);

    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ (peer->getSections()[i].data, FirmwareFileBuilder::pattern (sizes[i], (int) i + 1));

    // Once more, and the window is closed while the device holds back its answer to the first block.
    start();
    peer->stayQuietAt (VirtualUpdatePeer::Step::block);
    ASSERT_TRUE (waitFor ([this] { return peer->getCount (VirtualUpdatePeer::Step::block) > 0 && main().getFirmwareUpdate()->getUpdatingState() == 3; }));
    window().closeButtonPressed();
    pumpMessagesFor (50);
    EXPECT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent() && findAlertWindows().empty());
}
