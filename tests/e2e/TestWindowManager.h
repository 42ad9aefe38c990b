#pragma once

#include <juce_graphics/juce_graphics.h>

#include <array>
#include <optional>

// Xlib's macros (None, Bool) would clash with what includes this: its types are named here without it.
struct _XDisplay;
union _XEvent;

/** A window manager on a connection of its own: it takes over the requests that clients make to map,
    move and resize top-level windows. One window it keeps at a size of its own choosing, answering each
    of that window's requests with a move to that size and a synthetic ConfigureNotify of it, as a tiling
    window manager keeps a window at its tile's size; or it grants that window's requests, as a window
    manager that lets a window have its size does. Every other window's requests pass on unchanged, so
    other clients of the same server see no difference.

    Nothing happens between calls to handleEvents, except that a map asked for by this process is answered
    before the framework goes on: the window manager sees a window as it is when it asks to be mapped, as a
    real one that decides there and then whether to tile it or let it float.

    It reparents nothing, but it can decorate the managed window at its first map as real ones do and place
    it accordingly (see Frame).
*/
class TestWindowManager
{
public:
    /** What the window manager puts around the managed window, and where a request to move it puts it. */
    enum class Frame
    {
        none,           // nothing; the window goes where it asks
        placesClient,   // a frame (frameExtents, published as _NET_FRAME_EXTENTS); the window itself goes where it asks, as herbstluftwm does
        placesFrame,    // the same frame, which goes where the window asks, the window inside it (north-west gravity, as openbox, xfwm4 or fluxbox do)
        border          // a border of borderWidth pixels; its outer corner goes where the window asks, as bspwm does
    };

    static constexpr std::array<int, 4> frameExtents { 4, 4, 22, 4 };   // left, right, top, bottom
    static constexpr int borderWidth = 2;

    /** Manages the given window; with none, the first window that this process asks to map. */
    explicit TestWindowManager (unsigned long managedWindow = 0, Frame frame = Frame::none);

    /** Stops redirecting, then passes on the requests that came before, so none is lost. */
    ~TestWindowManager();

    /** False when another window manager holds the server's redirect (or no display could be opened). */
    bool isRunning() const noexcept     { return running; }

    /** Moves and resizes the managed window to the area and tells it so; its requests get this area from now on. */
    void impose (juce::Rectangle<int> area)     { imposed = area; resize (area); }

    /** From now on the managed window gets what it asks for. */
    void grantRequests()                        { imposed = {}; }

    /** Moves and resizes the managed window to the area and tells it so, as when the user maximises it. */
    void resize (juce::Rectangle<int> area);

    /** Answers every request that has arrived. */
    void handleEvents();

    /** The managed window's requests for a size since the last call. */
    int takeResizeRequests()            { const auto n = resizeRequests; resizeRequests = 0; return n; }

    /** The managed window's requests to be moved or resized, whatever they ask, since its first map and the last call. */
    int takeConfigureRequests()         { const auto n = configureRequests; configureRequests = 0; return n; }

    /** How often the managed window's size hints were written since its first map and the last call. */
    int takeSizeHintWrites()            { const auto n = sizeHintWrites; sizeHintWrites = 0; return n; }

    /** The managed window as it was when it first asked to be mapped. */
    struct Map
    {
        unsigned long window = 0;
        juce::Rectangle<int> area;
        std::array<int, 2> minimumSize {}, maximumSize {};   // from its size hints; { 0, 0 } when not given
        juce::Point<int> placedAt;                           // where its content was once framed and mapped
    };

    std::optional<Map> getFirstMap() const      { return firstMap; }

private:
    void answer (const _XEvent& configureRequest);
    void record (unsigned long requester);
    void decorate (unsigned long managed);
    static void mapAndAnswer (_XDisplay*, unsigned long);

    _XDisplay* const display;
    unsigned long window;
    const Frame frame;
    juce::Rectangle<int> imposed;
    int resizeRequests = 0, configureRequests = 0, sizeHintWrites = 0;
    bool running = false;
    std::optional<Map> firstMap;
    void (*frameworkMap) (_XDisplay*, unsigned long) = nullptr;

    JUCE_DECLARE_NON_COPYABLE (TestWindowManager)
};
