#include "app/NewProjectApplication.h"
#include "tests/support/AppTesting.h"
#include "tests/support/DeviceStateResponder.h"
#include "tests/support/FirmwareFileBuilder.h"
#include "tests/support/VirtualMidiDevice.h"
#include "tests/support/VirtualUpdatePeer.h"
#include "ui/MainComponent.h"

#include <gtest/gtest.h>

// A standalone application, as the real one (thread-safe Xlib included); the session makes the application object.
[[maybe_unused]] static const bool standalone = (juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; }, true);

/** The application with its own window, device link and timers, in a home folder of its own, on a virtual
    device that answers the state requests or takes an update.
*/
struct Session : public ::testing::Test
{
    void SetUp() override      { home.createDirectory(); env.set ("HOME", home.getFullPathName().toRawUTF8()); device.unplug(); app.initialise ({}); }
    void TearDown() override   { dismissAllAlerts(); app.shutdown(); deleteTrafficSingletons(); home.deleteRecursively(); }

    MainComponent& main()   { return *dynamic_cast<MainComponent*> (app.getMainWindow()->getContentComponent()); }

    const juce::File home = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("norvo-" + juce::Uuid().toString());
    ScopedEnv env;
    VirtualMidiDevice device;
    VirtualMidiDevice::ScopedInstall install { device };
    NewProjectApplication app;
};

// Closing the window ends the message loop: this is the only session of the run.
TEST_F (Session, AChosenFileIsSentThroughThePagesAndClosingTheWindowQuitsWithoutAQuestion)
{
    auto& window = *app.getMainWindow();
    EXPECT_TRUE (window.getName() == "Norvo USB Updater V1.2.1" && ! window.isResizable() && (window.getDesktopWindowStyleFlags() & juce::ComponentPeer::windowHasMaximiseButton) == 0
                   && (window.getBounds().getCentre() - juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea.getCentre()).getDistanceFromOrigin() < 1.5f);
    ASSERT_TRUE (pumpMessagesUntil ([this] { return isOnlyPageShown (main().getDisconnectedView()) && main().getDisconnectedView().getBounds() == juce::Rectangle<int> (0, 0, 650, 414); }));

    device.setOnMessageWritten ([this] (const juce::MidiMessage& m) { if (DeviceStateResponder::isStateRead (m)) device.sendToHost (DeviceStateResponder::makeSystemReply (2, std::nullopt)); });
    device.plug();
    auto& page = main().getConnectedView();
    ASSERT_TRUE (pumpMessagesUntil ([&page] { return isOnlyPageShown (page) && page.currentState == 2; }, 8000) && device.waitUntilDelivered());

    // The chosen file is sent to the end; closing the window then asks nothing.
    const auto file = FirmwareFileBuilder().version ('V', 1, 2, 10).section (0x00, FirmwareFileBuilder::pattern (1500, 1))
                                           .section (0x10, FirmwareFileBuilder::pattern (900, 2)).writeTemporary();
    VirtualUpdatePeer peer (device);
    peer.setBlockSize (64);
    page.fileChosen (file->getFile());
    page.startButton.triggerClick();
    ASSERT_TRUE (pumpMessagesUntil ([&] { return isOnlyPageShown (main().getUpdateView()) && peer.isFinished() && main().getUpdateView().progressSlider.getValue() == 1.0; }, 8000));
    EXPECT_TRUE (peer.getSections().size() == 2 && peer.getSections()[0].data == FirmwareFileBuilder::pattern (1500, 1)
                   && peer.getSections()[1].data == FirmwareFileBuilder::pattern (900, 2));

    window.closeButtonPressed();
    pumpMessagesFor (50);
    EXPECT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent() && findAlertWindows().empty());
}
