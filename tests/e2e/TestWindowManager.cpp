// The framework's own X11 calls, through which a map is answered at once.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1

#include "tests/e2e/TestWindowManager.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace
{
    Display* refusedDisplay = nullptr;
    bool redirectRefused = false;
    TestWindowManager* answeringMaps = nullptr;

    // Only one client may redirect the root's children: another gets BadAccess.
    int noteRefusal (Display* display, XErrorEvent* error)
    {
        if (display == refusedDisplay && error->error_code == BadAccess)
            redirectRefused = true;

        return 0;
    }
}

TestWindowManager::TestWindowManager (unsigned long managedWindow, Frame frameToUse)
    : display (XOpenDisplay (nullptr)), window (managedWindow), frame (frameToUse)
{
    if (display == nullptr)
        return;

    refusedDisplay = display;
    redirectRefused = false;
    const auto previousHandler = XSetErrorHandler (noteRefusal);
    XSelectInput (display, DefaultRootWindow (display), SubstructureRedirectMask);
    XSync (display, False);
    XSetErrorHandler (previousHandler);
    running = ! redirectRefused;

    if (running)
    {
        // The framework loads its X11 functions afresh when it first opens its display: after that, not before.
        juce::XWindowSystem::getInstance();
        auto& map = juce::X11Symbols::getInstance()->xMapWindow;
        frameworkMap = map;
        map = mapAndAnswer;
        answeringMaps = this;
    }
}

TestWindowManager::~TestWindowManager()
{
    if (display == nullptr)
        return;

    if (answeringMaps == this)
    {
        juce::X11Symbols::getInstance()->xMapWindow = frameworkMap;
        answeringMaps = nullptr;
    }

    XSelectInput (display, DefaultRootWindow (display), NoEventMask);
    XSync (display, False);
    grantRequests();
    handleEvents();
    XCloseDisplay (display);
}

void TestWindowManager::handleEvents()
{
    while (XPending (display) > 0)
    {
        XEvent event {};
        XNextEvent (display, &event);

        if (event.type == MapRequest)
        {
            const bool first = event.xmaprequest.window == window && ! firstMap.has_value();

            if (first)
            {
                record (window);
                XSelectInput (display, window, PropertyChangeMask);   // to count its size hints from now on
                decorate (window);
            }

            XMapWindow (display, event.xmaprequest.window);

            if (first)
            {
                ::Window child = 0;
                XTranslateCoordinates (display, window, DefaultRootWindow (display), 0, 0, &firstMap->placedAt.x, &firstMap->placedAt.y, &child);
            }
        }
        else if (event.type == ConfigureRequest)
        {
            answer (event);
        }
        else if (event.type == PropertyNotify && event.xproperty.window == window && event.xproperty.atom == XA_WM_NORMAL_HINTS)
        {
            ++sizeHintWrites;
        }
    }

    XFlush (display);
}

void TestWindowManager::record (unsigned long requester)
{
    Map map;
    map.window = requester;

    ::Window root = 0;
    int x = 0, y = 0;
    unsigned int width = 0, height = 0, border = 0, depth = 0;

    if (XGetGeometry (display, requester, &root, &x, &y, &width, &height, &border, &depth) != 0)
        map.area = { x, y, (int) width, (int) height };

    XSizeHints hints {};
    long supplied = 0;

    if (XGetWMNormalHints (display, requester, &hints, &supplied) != 0)
    {
        if ((hints.flags & PMinSize) != 0)   map.minimumSize = { { hints.min_width, hints.min_height } };
        if ((hints.flags & PMaxSize) != 0)   map.maximumSize = { { hints.max_width, hints.max_height } };
    }

    firstMap = map;
}

void TestWindowManager::decorate (unsigned long managed)
{
    if (frame == Frame::placesClient || frame == Frame::placesFrame)
    {
        // Format 32 property data is passed as longs, whatever their size.
        const long extents[] { frameExtents[0], frameExtents[1], frameExtents[2], frameExtents[3] };
        XChangeProperty (display, managed, XInternAtom (display, "_NET_FRAME_EXTENTS", False), XA_CARDINAL, 32, PropModeReplace,
                         reinterpret_cast<const unsigned char*> (extents), 4);
    }

    // The frame takes the window's place, so the window itself lands inside it.
    if (frame == Frame::placesFrame)
        XMoveWindow (display, managed, firstMap->area.getX() + frameExtents[0], firstMap->area.getY() + frameExtents[2]);

    if (frame == Frame::border)
        XSetWindowBorderWidth (display, managed, (unsigned int) borderWidth);
}

void TestWindowManager::mapAndAnswer (Display* client, ::Window requester)
{
    // Other processes share the server: only a window of this one is taken as the one to manage.
    if (answeringMaps->window == 0)
        answeringMaps->window = requester;

    answeringMaps->frameworkMap (client, requester);

    // Once both round trips are done, the server has taken the request and the map request is here.
    XSync (client, False);
    XSync (answeringMaps->display, False);
    answeringMaps->handleEvents();
}

void TestWindowManager::answer (const XEvent& event)
{
    const auto& request = event.xconfigurerequest;
    const bool ours = request.window == window;
    const bool managed = ours && firstMap.has_value();   // before its first map it is not managed yet: nothing around it

    if (ours && (request.value_mask & (CWWidth | CWHeight)) != 0)
        ++resizeRequests;

    if (managed)
        ++configureRequests;

    if (ours && ! imposed.isEmpty())
    {
        resize (imposed);
        return;
    }

    XWindowChanges changes {};
    changes.x = request.x;
    changes.y = request.y;
    changes.width = request.width;
    changes.height = request.height;
    changes.border_width = request.border_width;
    changes.sibling = request.above;
    changes.stack_mode = request.detail;
    auto mask = (unsigned int) request.value_mask;

    if (managed && frame == Frame::placesFrame)
    {
        changes.x += frameExtents[0];
        changes.y += frameExtents[2];
    }

    if (managed && frame == Frame::border)
    {
        changes.border_width = borderWidth;
        mask |= CWBorderWidth;
    }

    XConfigureWindow (display, request.window, mask, &changes);
}

void TestWindowManager::resize (juce::Rectangle<int> area)
{
    XMoveResizeWindow (display, window, area.getX(), area.getY(), (unsigned int) area.getWidth(), (unsigned int) area.getHeight());

    XEvent notify {};
    auto& configure = notify.xconfigure;
    configure.type = ConfigureNotify;
    configure.display = display;
    configure.event = window;
    configure.window = window;
    configure.x = area.getX();
    configure.y = area.getY();
    configure.width = area.getWidth();
    configure.height = area.getHeight();
    configure.above = None;
    configure.override_redirect = False;
    XSendEvent (display, window, False, StructureNotifyMask, &notify);
    XFlush (display);
}
