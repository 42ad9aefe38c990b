// Start-up of the application to its first paint against a bare JUCE window built the
// same way, and the resident memory of each at that moment.
//
// Measured from outside the process, on the X display the benchmark runs on (run it under
// xvfb-run): the clock starts just before fork, every top-level window that appears gets
// an X damage monitor, and the clock stops at the first damage after which the window
// shows something of the program's own. The server reports damage before that too (when
// the window is sized and mapped), but the windows have no background of their own, so
// until the program draws they show the root window, which the probe paints in a colour
// that neither program uses. The program is then asked to quit with SIGINT.

#include "StartupPrograms.h"

#include <benchmark/benchmark.h>
#include <juce_core/juce_core.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
    using Clock = std::chrono::steady_clock;

    int ignoreXErrors (Display*, XErrorEvent*)     { return 0; }

    long residentKiBOf (pid_t pid)
    {
        std::ifstream status ("/proc/" + std::to_string (pid) + "/status");

        for (std::string line; std::getline (status, line);)
            if (line.rfind ("VmRSS:", 0) == 0)
                return std::stol (line.substr (6));

        return -1;
    }

    struct Launch
    {
        double ms = -1;
        long residentKiB = -1;
    };

    class FirstPaintProbe
    {
    public:
        FirstPaintProbe()
            : display (XOpenDisplay (nullptr))
        {
            if (display == nullptr)
                return;

            XSetErrorHandler (ignoreXErrors);
            int damageError = 0;
            hasDamage = XDamageQueryExtension (display, &damageEvent, &damageError);
            const auto root = DefaultRootWindow (display);
            XSelectInput (display, root, SubstructureNotifyMask);
            XSetWindowBackground (display, root, rootColour);
            XClearWindow (display, root);
            XSync (display, False);
        }

        ~FirstPaintProbe()
        {
            if (display != nullptr)
                XCloseDisplay (display);
        }

        bool isUsable() const noexcept     { return display != nullptr && hasDamage; }

        Launch launch (const char* program, int timeoutMs = 20000)
        {
            drainEvents();

            const auto start = Clock::now();
            const auto pid = fork();

            if (pid == 0)
            {
                const int devNull = open ("/dev/null", O_WRONLY);
                dup2 (devNull, STDOUT_FILENO);
                dup2 (devNull, STDERR_FILENO);
                execl (program, program, (char*) nullptr);
                _exit (127);
            }

            Launch result;

            if (pid < 0)
                return result;

            if (waitForFirstDamage (start, timeoutMs))
            {
                result.ms = std::chrono::duration<double, std::milli> (Clock::now() - start).count();
                result.residentKiB = residentKiBOf (pid);
            }

            stop (pid);
            return result;
        }

    private:
        bool waitForFirstDamage (Clock::time_point start, int timeoutMs)
        {
            const auto deadline = start + std::chrono::milliseconds (timeoutMs);
            pollfd fd { ConnectionNumber (display), POLLIN, 0 };

            while (Clock::now() < deadline)
            {
                while (XPending (display) > 0)
                {
                    XEvent event;
                    XNextEvent (display, &event);

                    if (event.type == CreateNotify)
                    {
                        XDamageCreate (display, event.xcreatewindow.window, XDamageReportNonEmpty);
                    }
                    else if (event.type == damageEvent + XDamageNotify)
                    {
                        const auto& damage = reinterpret_cast<const XDamageNotifyEvent&> (event);
                        XDamageSubtract (display, damage.damage, None, None);   // report the next one too

                        if (showsItsOwnPixels (damage.drawable, damage.geometry))
                            return true;
                    }
                }

                XFlush (display);
                poll (&fd, 1, 1);
            }

            return false;
        }

        // Whether any pixel of the window differs from the root's colour that shows through
        // an undrawn window.
        bool showsItsOwnPixels (Drawable window, const XRectangle& size)
        {
            auto* image = XGetImage (display, window, 0, 0, size.width, size.height, AllPlanes, ZPixmap);

            if (image == nullptr)
                return false;

            bool drawn = false;

            for (int y = 0; y < image->height && ! drawn; ++y)
                for (int x = 0; x < image->width && ! drawn; ++x)
                    drawn = (XGetPixel (image, x, y) & 0xffffff) != rootColour;

            XDestroyImage (image);
            return drawn;
        }

        void drainEvents()
        {
            XSync (display, False);

            while (XPending (display) > 0)
            {
                XEvent event;
                XNextEvent (display, &event);
            }
        }

        static void stop (pid_t pid)
        {
            kill (pid, SIGINT);

            for (int i = 0; i < 500; ++i)
            {
                if (waitpid (pid, nullptr, WNOHANG) == pid)
                    return;

                usleep (10000);
            }

            kill (pid, SIGKILL);
            waitpid (pid, nullptr, 0);
        }

        static constexpr unsigned long rootColour = 0xff00ff;     // magenta, on a 24-bit display

        Display* display = nullptr;
        int damageEvent = 0;
        bool hasDamage = false;
    };

    double median (std::vector<double> values)
    {
        std::sort (values.begin(), values.end());
        return values.empty() ? -1.0 : values[values.size() / 2];
    }
}

static void startUpToFirstPaint (benchmark::State& state)
{
    FirstPaintProbe probe;

    if (! probe.isUsable())
        return state.SkipWithError ("needs an X display with the damage extension (run under xvfb-run)");

    std::vector<double> appMs, bareMs, appKiB, bareKiB;

    for (auto _ : state)
    {
        // Alternating, so that whatever the machine does meanwhile falls on both alike.
        const auto app = probe.launch (NORVO_APPLICATION_PATH);
        const auto bare = probe.launch (NORVO_BARE_WINDOW_PATH);

        if (app.ms < 0 || bare.ms < 0)
            return state.SkipWithError ("a program did not paint its window");

        appMs.push_back (app.ms);
        bareMs.push_back (bare.ms);
        appKiB.push_back ((double) app.residentKiB);
        bareKiB.push_back ((double) bare.residentKiB);
        state.SetIterationTime (app.ms / 1000.0);
    }

    state.counters["app_ms"] = median (appMs);
    state.counters["bare_ms"] = median (bareMs);
    state.counters["ratio"] = median (appMs) / median (bareMs);
    state.counters["app_rss_MiB"] = median (appKiB) / 1024.0;
    state.counters["bare_rss_MiB"] = median (bareKiB) / 1024.0;
}

BENCHMARK (startUpToFirstPaint)->UseManualTime()->Unit (benchmark::kMillisecond)->Iterations (9);
