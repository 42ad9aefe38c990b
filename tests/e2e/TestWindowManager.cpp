#include "tests/e2e/TestWindowManager.h"

#include <X11/Xlib.h>

namespace
{
    Display* refusedDisplay = nullptr;
    bool redirectRefused = false;

    // Only one client may redirect the root's children: another gets BadAccess.
    int noteRefusal (Display* display, XErrorEvent* error)
    {
        if (display == refusedDisplay && error->error_code == BadAccess)
            redirectRefused = true;

        return 0;
    }
}

TestWindowManager::TestWindowManager (unsigned long managedWindow)
    : display (XOpenDisplay (nullptr)), window (managedWindow)
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
}

TestWindowManager::~TestWindowManager()
{
    if (display == nullptr)
        return;

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
            XMapWindow (display, event.xmaprequest.window);
        else if (event.type == ConfigureRequest)
            answer (event);
    }

    XFlush (display);
}

void TestWindowManager::answer (const XEvent& event)
{
    const auto& request = event.xconfigurerequest;
    const bool ours = request.window == window;

    if (ours && (request.value_mask & (CWWidth | CWHeight)) != 0)
        ++resizeRequests;

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
    XConfigureWindow (display, request.window, (unsigned int) request.value_mask, &changes);
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
