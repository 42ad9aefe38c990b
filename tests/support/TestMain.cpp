#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xlib.h>

// A plain test main has no X error handler of its own: without this, the first window shown
// under Xvfb ends the process on a harmless BadAtom error.
static int ignoreXErrors (Display*, XErrorEvent*)  { return 0; }

int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);
    XSetErrorHandler (ignoreXErrors);

    juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
