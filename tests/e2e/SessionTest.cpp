#include "app/NewProjectApplication.h"
#include "tests/e2e/TestClock.h"
#include "tests/e2e/TestWindowManager.h"
#include "tests/support/AppTesting.h"
#include "tests/support/DeviceStateResponder.h"
#include "tests/support/FirmwareFileBuilder.h"
#include "tests/support/VirtualMidiDevice.h"
#include "tests/support/VirtualUpdatePeer.h"
#include "ui/MainComponent.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

// A standalone application, as the real one (thread-safe Xlib included); the session makes the application object.
[[maybe_unused]] static const bool standalone = (juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; }, true);

/** The application with its own window, device link and timers, in a home folder of its own, on a virtual
    device that answers the state requests or takes an update. */
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

/** What another client of the X server, a window manager or xdotool, sees of and does to the window. */
struct XClient
{
    ~XClient()   { XCloseDisplay (display); }

    /** The window's size, and its minimum and maximum size in the window manager's hints (0 when unlimited). */
    std::array<int, 6> sizes (::Window window) const
    {
        XWindowAttributes attributes {};
        XSizeHints hints {};
        long supplied = 0;
        XSync (display, False);
        XGetWindowAttributes (display, window, &attributes);
        const bool limited = XGetWMNormalHints (display, window, &hints, &supplied) != 0 && (hints.flags & (PMinSize | PMaxSize)) == (PMinSize | PMaxSize);
        return { attributes.width, attributes.height, limited ? hints.min_width : 0, limited ? hints.min_height : 0, limited ? hints.max_width : 0, limited ? hints.max_height : 0 };
    }

    /** Where the window's content is on the screen, inside any border. */
    juce::Point<int> screenPosition (::Window window) const
    {
        ::Window child = 0;
        int x = 0, y = 0;
        XSync (display, False);
        XTranslateCoordinates (display, window, DefaultRootWindow (display), 0, 0, &x, &y, &child);
        return { x, y };
    }

    /** Moves the pointer to a point of the window, as the user does. */
    void pointAt (::Window window, juce::Point<int> point) const
    {
        XWarpPointer (display, None, window, 0, 0, 0, 0, point.x, point.y);
        XSync (display, False);
    }

    Display* const display = XOpenDisplay (nullptr);
};

/** The session under the test's window manager, which runs before the window is made and frames it as given. */
template <TestWindowManager::Frame frame>
struct FramedSession : public Session
{
    void SetUp() override   { ASSERT_TRUE (manager.isRunning()); Session::SetUp(); }

    TestWindowManager manager { 0, frame };
};

using ManagedSession = FramedSession<TestWindowManager::Frame::none>;
using ClientPlacingSession = FramedSession<TestWindowManager::Frame::placesClient>;
using FramePlacingSession = FramedSession<TestWindowManager::Frame::placesFrame>;
using BorderingSession = FramedSession<TestWindowManager::Frame::border>;

/** The message loop and the window manager (if any) in turn, until the condition holds or the time is over. */
static bool runUntil (TestWindowManager* manager, int milliseconds, const std::function<bool()>& condition)
{
    for (const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds; juce::Time::getMillisecondCounter() < end;)
    {
        if (manager != nullptr)
            manager->handleEvents();

        pumpMessagesFor (2);

        if (condition())
            return true;
    }

    return false;
}

/** Idle pauses of four seconds on the test clock, each ended by the pointer passing over the help button, which repaints it:
    the framework drops the window's back buffer after three seconds without a paint and, making a new one, puts the window
    back where it thinks it is, counting in the frame (as it does at the first paint). The content stays where the window
    manager placed it at its map, and the window asks nothing more of the window manager, neither a move nor new size hints. A fifth pause is a stall: the message thread comes back
    after four seconds at once, instead of running its timers along the way. */
static void expectTheWindowToStayThroughPausesAndRepaints (NewProjectApplication& app, TestWindowManager* manager)
{
    auto& window = *app.getMainWindow();
    auto& button = *dynamic_cast<MainComponent&> (*window.getContentComponent()).getDisconnectedView().helpButton;
    const auto id = (::Window) window.getPeer()->getNativeHandle();
    const XClient x;
    ASSERT_NE (x.display, nullptr);

    // Vertical blanks counted as the framework dispatches them, each followed by its pending paints.
    int blanks = 0;
    const juce::VBlankAttachment blankCounter (&window, [&blanks] { ++blanks; });
    const auto runBlanks = [&] (int count) { const auto target = blanks + count; return runUntil (manager, 2000, [&] { return blanks >= target; }); };

    // The pointer onto the button or off it: the button repaints, the paint goes out at the next blank, and whatever the
    // window then asks of the window manager is answered.
    const auto hover = [&] (bool onButton)
    {
        x.pointAt (id, onButton ? window.getLocalArea (&button, button.getLocalBounds()).getCentre() : juce::Point<int> (5, 5));
        const bool repainted = runUntil (manager, 2000, [&] { return button.isOver() == onButton; }) && runBlanks (2);
        runUntil (manager, 100, [] { return false; });
        return repainted;
    };

    ASSERT_TRUE (hover (false));
    runUntil (manager, 300, [] { return false; });
    const auto settled = x.screenPosition (id);

    // The framework's first paint asks for no other place than the one the window manager gave the window at its map.
    if (manager != nullptr)
    {
        EXPECT_EQ (settled, manager->getFirstMap()->placedAt) << settled.toString() << " instead of " << manager->getFirstMap()->placedAt.toString();
        EXPECT_EQ (manager->takeConfigureRequests(), 0);
        manager->takeSizeHintWrites();
    }

    // A pause of so many steps on the test clock, each followed by the timers and paints due at the next blanks, then the hover.
    const auto pauseThenHover = [&] (int steps, int stepMs, const char* what)
    {
        for (int step = 0; step < steps; ++step)
        {
            TestClock::advance (stepMs);
            ASSERT_TRUE (runBlanks (2)) << what;
        }

        ASSERT_TRUE (hover (true)) << what;
        const auto position = x.screenPosition (id);
        EXPECT_EQ (position, settled) << what << ": " << position.toString() << " instead of " << settled.toString();
        ASSERT_TRUE (hover (false)) << what;
    };

    for (const auto* what : { "pause 1", "pause 2", "pause 3", "pause 4" })
        pauseThenHover (8, 500, what);

    if (manager != nullptr)
    {
        EXPECT_EQ (manager->takeConfigureRequests(), 0);
        EXPECT_EQ (manager->takeSizeHintWrites(), 0);
    }

    pauseThenHover (1, 4000, "stall");

    // The first paint after the stall may tell the size limits once more; nothing else.
    if (manager != nullptr)
    {
        EXPECT_EQ (manager->takeConfigureRequests(), 0);
        EXPECT_LE (manager->takeSizeHintWrites(), 1);
    }
}

// Tiling window managers float a window whose first map carries min = max size hints, at that size, and tile any other.
TEST_F (ManagedSession, TheWindowAsksToBeMappedOnlyOnceItHasItsFixedSizeAndItsSizeLimits)
{
    const auto first = manager.getFirstMap();
    ASSERT_TRUE (first.has_value());
    EXPECT_EQ (first->window, (unsigned long) app.getMainWindow()->getPeer()->getNativeHandle());
    EXPECT_EQ (first->area.getWidth(), 650) << first->area.toString();
    EXPECT_EQ (first->area.getHeight(), 414) << first->area.toString();
    EXPECT_EQ (first->minimumSize, (std::array<int, 2> { 650, 414 }));
    EXPECT_EQ (first->maximumSize, (std::array<int, 2> { 650, 414 }));
    EXPECT_LT ((first->area.getCentre() - juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea.getCentre()).getDistanceFromOrigin(), 1.5f) << first->area.toString();
}

TEST_F (ClientPlacingSession, TheWindowStaysWhereItIsThroughIdlePausesAndRepaints)   { expectTheWindowToStayThroughPausesAndRepaints (app, &manager); }
TEST_F (FramePlacingSession, TheWindowStaysWhereItIsThroughIdlePausesAndRepaints)    { expectTheWindowToStayThroughPausesAndRepaints (app, &manager); }
TEST_F (BorderingSession, TheWindowStaysWhereItIsThroughIdlePausesAndRepaints)       { expectTheWindowToStayThroughPausesAndRepaints (app, &manager); }
TEST_F (Session, TheWindowStaysWhereItIsThroughIdlePausesAndRepaintsWithoutAWindowManager)   { expectTheWindowToStayThroughPausesAndRepaints (app, nullptr); }

TEST_F (Session, TheWindowKeepsItsSizeAndTellsTheWindowManagerItsLimitsWhateverMovesOrResizesIt)
{
    auto& window = *app.getMainWindow();
    const auto id = (::Window) window.getPeer()->getNativeHandle();
    const XClient x;
    ASSERT_NE (x.display, nullptr);
    const std::array<int, 6> fixed { 650, 414, 650, 414, 650, 414 };
    const auto holds = [&] { return x.sizes (id) == fixed && main().getBounds() == juce::Rectangle<int> (650, 414) && main().getDisconnectedView().getBounds() == main().getBounds(); };

    const std::pair<const char*, std::function<void()>> disturbances[] {
        { "shown",                    [] {} },
        { "moved by the program",     [&] { window.setTopLeftPosition (20, 30); } },
        { "resized by a client",      [&] { XResizeWindow (x.display, id, 800, 600); } },
        { "moved and shrunk by one",  [&] { XMoveResizeWindow (x.display, id, 5, 5, 300, 200); } },
        { "resized by the program",   [&] { window.setSize (700, 500); } },
    };

    for (const auto& [what, disturb] : disturbances)
    {
        disturb();
        XSync (x.display, False);
        EXPECT_TRUE (pumpMessagesUntil (holds)) << what;
    }
}

TEST_F (Session, TheWindowTakesASizeAWindowManagerImposesWithoutFightingItAndGetsItsOwnBackWhereOneLetsIt)
{
    auto& window = *app.getMainWindow();
    const auto id = (::Window) window.getPeer()->getNativeHandle();
    const XClient x;
    TestWindowManager manager (id);
    ASSERT_TRUE (x.display != nullptr && manager.isRunning());

    // Tiled, retiled as another window opens beside it, then asked for another size by the program itself.
    const std::tuple<const char*, std::function<void()>, juce::Rectangle<int>> impositions[] {
        { "tiled",                  [&] { manager.impose ({ 0, 0, 1280, 1024 }); },  { 1280, 1024 } },
        { "retiled",                [&] { manager.impose ({ 0, 0, 640, 1024 }); },   { 640, 1024 } },
        { "resized by the program", [&] { window.setSize (700, 500); },             { 640, 1024 } },
    };

    for (const auto& [what, impose, tile] : impositions)
    {
        impose();
        runUntil (&manager, 1000, [] { return false; });   // the whole second, counting what the window asks for in it
        EXPECT_LE (manager.takeResizeRequests(), 3) << what;   // the program's own request among them
        EXPECT_EQ (x.sizes (id), (std::array<int, 6> { tile.getWidth(), tile.getHeight(), 650, 414, 650, 414 })) << what;
        EXPECT_EQ (main().getBounds(), juce::Rectangle<int> (650, 414)) << what;
    }

    // A window manager that resizes it once, as when the user maximises it, then grants its requests.
    manager.grantRequests();
    manager.resize ({ 10, 10, 900, 700 });
    EXPECT_TRUE (runUntil (&manager, 2000, [&] { return x.sizes (id) == std::array<int, 6> { 650, 414, 650, 414, 650, 414 } && main().getBounds() == juce::Rectangle<int> (650, 414); }));
}

// Closing the window ends the message loop: this is the only session of the run that does so, and the last.
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
