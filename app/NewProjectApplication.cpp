// The window's size hints are written through the framework's X11 layer.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1

#include "app/NewProjectApplication.h"

#include "ui/MainComponent.h"

#include <cstdlib>

NewProjectApplication::~NewProjectApplication() = default;

const juce::String NewProjectApplication::getApplicationName()    { return "Norvo USB Updater"; }
const juce::String NewProjectApplication::getApplicationVersion() { return "1.2.1"; }

// The framework's single-instance check stays off.
bool NewProjectApplication::moreThanOneInstanceAllowed()          { return true; }

juce::String NewProjectApplication::getWindowTitle()
{
    return getApplicationName() + " V" + getApplicationVersion();
}

void NewProjectApplication::initialise (const juce::String&)
{
    // Every text is drawn with the embedded typeface, so the framework's scan of the
    // system's font folders at the first typeface (tens of milliseconds, more on a machine
    // with many fonts) would find nothing we use: point it at no folder, unless the user
    // has chosen one.
    setenv ("JUCE_FONT_PATH", "/dev/null", 0);

    mainWindow = std::make_unique<MainWindow> (getWindowTitle());
}

void NewProjectApplication::shutdown()
{
    // Deletes the window and, with it, the MainComponent it owns.
    mainWindow = nullptr;
}

void NewProjectApplication::anotherInstanceStarted (const juce::String&) {}

void NewProjectApplication::systemRequestedQuit()
{
    quit();
}

//==============================================================================
namespace
{
    // Taken from the framework's own default look-and-feel, before MainComponent installs ours.
    juce::Colour defaultWindowBackground()
    {
        return juce::Desktop::getInstance().getDefaultLookAndFeel()
                   .findColour (juce::ResizableWindow::backgroundColourId);
    }

   #if JUCE_LINUX || JUCE_BSD
    // On X11 a window put on the desktop at once is mapped there and then, small and without
    // size limits, when the native title bar makes the framework recreate it; a tiling window
    // manager decides at that first map to tile it. So the window goes on the desktop only once
    // it has its size, place and limits.
    constexpr bool addedToDesktopOnceBuilt = true;
   #else
    constexpr bool addedToDesktopOnceBuilt = false;
   #endif
}

NewProjectApplication::MainWindow::MainWindow (juce::String name)
    : juce::DocumentWindow (name,
                            defaultWindowBackground(),
                            juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton,
                            ! addedToDesktopOnceBuilt)
{
    setUsingNativeTitleBar (true);

    // The window takes the content's size (650 x 414) and keeps it; it is never made resizable.
    setContentOwned (new MainComponent(), true);
    fixedArea = getLocalBounds();

    centreWithSize (getWidth(), getHeight());

    if (addedToDesktopOnceBuilt)
    {
        // Not visible yet, so the framework makes the native window at this size and place
        // without mapping it. It leaves the limits out of the size hints it writes there: they
        // go in here, before the map, whatever else the framework does on the way.
        addToDesktop();
        makeBackBufferBeforeTheMap();
        publishSizeLimits();
    }

    setVisible (true);
}

NewProjectApplication::MainWindow::~MainWindow() = default;

void NewProjectApplication::MainWindow::closeButtonPressed()
{
    if (auto* app = juce::JUCEApplication::getInstance())
        app->systemRequestedQuit();
}

void NewProjectApplication::MainWindow::moved()
{
    juce::DocumentWindow::moved();
    publishSizeLimits();
}

void NewProjectApplication::MainWindow::resized()
{
    // A size given from outside (a window manager that ignores the limits, or a client
    // resizing the window on a server without one) leaves the content at its own size at
    // the top left, and the window asks once for its own size back.
    if (! fixedArea.isEmpty() && getLocalBounds() != fixedArea)
    {
        askForFixedSize();
        return;
    }

    juce::DocumentWindow::resized();
    publishSizeLimits();
}

void NewProjectApplication::MainWindow::paint (juce::Graphics& g)
{
    juce::DocumentWindow::paint (g);

    // The framework also rewrites the size hints, without the limits, when it makes the
    // window's back buffer afresh: at the first paint, and after three seconds without one,
    // which keepBackBufferAlive prevents while the window is shown. The gap here stays well
    // clear of its one paint a second; after a stall of the message thread it tells the
    // limits once more, which does no harm.
    const auto now = juce::Time::getMillisecondCounter();

    if (lastPaintMs == 0 || now - lastPaintMs > 2500)
        publishSizeLimits();

    lastPaintMs = now;
}

#if JUCE_LINUX || JUCE_BSD
void NewProjectApplication::MainWindow::keepBackBufferAlive()
{
    // The framework drops the window's back buffer after three seconds without a paint and,
    // making a new one at the next paint, moves the window to where it thinks it is minus the
    // frame's extents, trusting the window manager to put the frame's corner there. Some put
    // the window itself there (herbstluftwm) or add their border (bspwm): the window creeps
    // at every such pause. One pixel painted every second keeps the buffer, so the position is
    // never asked again. This runs at each vertical blank just before the framework decides
    // whether to drop the buffer, so it holds even after the message thread has stalled.
    const auto now = juce::Time::getMillisecondCounter();

    if (now - lastKeepAliveMs >= 1000)
    {
        lastKeepAliveMs = now;
        repaint (0, 0, 1, 1);
    }
}
#endif

void NewProjectApplication::MainWindow::makeBackBufferBeforeTheMap()
{
   #if JUCE_LINUX || JUCE_BSD
    // The framework's first back buffer comes with a move to where it thinks the window is,
    // minus the frame (see keepBackBufferAlive). Made at the first paint, after the map, that
    // move takes the window away from where the window manager has just placed it (herbstluftwm
    // lifts the title bar off the screen). Made here, while the window is not mapped, it asks for
    // the place the window already has. The peer is asked directly: the window is not visible
    // yet, so a repaint of the component would be ignored.
    if (auto* peer = getPeer())
    {
        peer->repaint (getLocalBounds());
        peer->performAnyPendingRepaintsNow();
    }
   #endif
}

void NewProjectApplication::MainWindow::askForFixedSize()
{
   #if JUCE_LINUX || JUCE_BSD
    // Asked of the server directly, not through setSize: the framework would take the size as
    // granted at once and, when a window manager that imposes a size (a tiling one) answers
    // with its own again, see a change and ask again, without end. This way the framework
    // learns the answer from the server: a granted size comes back here as the fixed one; a
    // refused one changes nothing, so nothing more is asked.
    auto* peer = getPeer();
    auto* display = juce::XWindowSystem::getInstance()->getDisplay();

    if (peer == nullptr || display == nullptr)
        return;

    publishSizeLimits();

    const auto area = physicalFixedArea();
    auto* x11 = juce::X11Symbols::getInstance();
    juce::XWindowSystemUtilities::ScopedXLock xLock;
    x11->xResizeWindow (display, (::Window) peer->getNativeHandle(), (unsigned int) area.getWidth(), (unsigned int) area.getHeight());
    x11->xFlush (display);
   #else
    setSize (fixedArea.getWidth(), fixedArea.getHeight());
   #endif
}

juce::Rectangle<int> NewProjectApplication::MainWindow::physicalFixedArea() const
{
    // The fixed size where the window is now, in the display's pixels.
    return juce::Desktop::getInstance().getDisplays()
               .logicalToPhysical (fixedArea.withPosition (getScreenPosition()));
}

void NewProjectApplication::MainWindow::publishSizeLimits()
{
   #if JUCE_LINUX || JUCE_BSD
    // On X11 the framework sets the minimum and maximum size of a window that is not
    // resizable, then overwrites the whole size hint with position and size alone.
    // This writes what it writes, with the limits kept: always the fixed size, also
    // while a window manager keeps the window at another.
    auto* peer = getPeer();
    auto* display = juce::XWindowSystem::getInstance()->getDisplay();

    if (peer == nullptr || display == nullptr || fixedArea.isEmpty())
        return;

    const auto area = physicalFixedArea();
    auto* x11 = juce::X11Symbols::getInstance();
    juce::XWindowSystemUtilities::ScopedXLock xLock;

    if (auto* hints = x11->xAllocSizeHints())
    {
        hints->flags = USPosition | USSize | PMinSize | PMaxSize;
        hints->x = area.getX();
        hints->y = area.getY();
        hints->width = hints->min_width = hints->max_width = area.getWidth();
        hints->height = hints->min_height = hints->max_height = area.getHeight();

        x11->xSetWMNormalHints (display, (::Window) peer->getNativeHandle(), hints);
        x11->xFree (hints);
    }
   #endif
}
