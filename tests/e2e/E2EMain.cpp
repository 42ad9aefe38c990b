#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xlib.h>

#include <cstdlib>
#include <unistd.h>

namespace
{
    // Without a window manager the first window shown under Xvfb raises a harmless
    // BadAtom error that Xlib's default handler would end the process for.
    int ignoreXErrors (Display*, XErrorEvent*) { return 0; }
}

int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);
    XSetErrorHandler (ignoreXErrors);

    // Standalone, as the application runs (thread-safe Xlib included); the sessions make the application object.
    juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; };

    // The settings file goes into a home of this run's own, never the user's.
    const auto home = juce::File (NORVO_E2E_OUTPUT_DIR).getChildFile ("home-" + juce::String ((int) getpid()));
    home.createDirectory();
    setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);

    int result = 0;

    {
        juce::ScopedJuceInitialiser_GUI juce;
        result = RUN_ALL_TESTS();
    }

    home.deleteRecursively();
    return result;
}
