#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** The application object: opens the one main window, whose content is
    MainComponent, and deletes it again at shutdown. Everything about the
    device, the pages and the update starts in MainComponent.
*/
class NewProjectApplication : public juce::JUCEApplication
{
public:
    NewProjectApplication() = default;
    ~NewProjectApplication() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;

    void initialise (const juce::String& commandLine) override;
    void shutdown() override;

    void anotherInstanceStarted (const juce::String& commandLine) override;
    void systemRequestedQuit() override;

    /** The title bar text: the name, " V" and the version. */
    juce::String getWindowTitle();

    /** The native-titled, fixed-size window with minimise and close buttons. */
    class MainWindow : public juce::DocumentWindow
    {
    public:
        explicit MainWindow (juce::String name);
        ~MainWindow() override;

        /** Asks the running application to quit, without any question. */
        void closeButtonPressed() override;

        /** The window keeps the size of its content: it asks back its own size when one is
            forced on it from outside, and the window manager is told the size limits again
            wherever the framework may have rewritten its size hints without them. A size the
            window manager insists on is left as it is, with the content at the top left.
        */
        void moved() override;
        void resized() override;
        void paint (juce::Graphics&) override;

    private:
        void askForFixedSize();
        juce::Rectangle<int> physicalFixedArea() const;
        void publishSizeLimits();
        void makeBackBufferBeforeTheMap();

        // The size that the content gave the window; empty until the content is set.
        juce::Rectangle<int> fixedArea;
        juce::uint32 lastPaintMs = 0;

       #if JUCE_LINUX || JUCE_BSD
        void keepBackBufferAlive();

        juce::uint32 lastKeepAliveMs = 0;
        juce::VBlankAttachment keepAlive { this, [this] { keepBackBufferAlive(); } };
       #endif

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
    };

    /** The open window, or null before initialise and after shutdown. */
    MainWindow* getMainWindow() const noexcept   { return mainWindow.get(); }

private:
    std::unique_ptr<MainWindow> mainWindow;
};
