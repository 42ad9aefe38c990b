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
}

NewProjectApplication::MainWindow::MainWindow (juce::String name)
    : juce::DocumentWindow (name,
                            defaultWindowBackground(),
                            juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton)
{
    setUsingNativeTitleBar (true);

    // The window takes the content's size (650 x 414); it is never made resizable.
    setContentOwned (new MainComponent(), true);

    centreWithSize (getWidth(), getHeight());
    setVisible (true);
}

NewProjectApplication::MainWindow::~MainWindow() = default;

void NewProjectApplication::MainWindow::closeButtonPressed()
{
    if (auto* app = juce::JUCEApplication::getInstance())
        app->systemRequestedQuit();
}
