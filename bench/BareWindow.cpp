// A bare JUCE window, the reference for the application's start-up: the same kind of
// application object and main window, with content of the same size that only fills
// itself, built with the same JUCE library and flags.

#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
    class Content : public juce::Component
    {
    public:
        Content()                                   { setSize (650, 414); }
        void paint (juce::Graphics& g) override     { g.fillAll (juce::Colours::darkgrey); }
    };

    class MainWindow : public juce::DocumentWindow
    {
    public:
        MainWindow()
            : juce::DocumentWindow ("Bare Window", juce::Colours::black,
                                    juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton)
        {
            setUsingNativeTitleBar (true);
            setContentOwned (new Content(), true);
            centreWithSize (getWidth(), getHeight());
            setVisible (true);
        }

        void closeButtonPressed() override          { juce::JUCEApplication::getInstance()->systemRequestedQuit(); }
    };
}

class BareWindowApplication : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override       { return "Bare Window"; }
    const juce::String getApplicationVersion() override    { return "1.0"; }
    bool moreThanOneInstanceAllowed() override             { return true; }

    void initialise (const juce::String&) override         { window = std::make_unique<MainWindow>(); }
    void shutdown() override                               { window = nullptr; }
    void systemRequestedQuit() override                    { quit(); }

private:
    std::unique_ptr<MainWindow> window;
};

START_JUCE_APPLICATION (BareWindowApplication)
