#include <juce_gui_basics/juce_gui_basics.h>

// Temporary shell: an empty window with the product's title, until the pages land.
class NewProjectApplication final : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override    { return "Norvo USB Updater"; }
    const juce::String getApplicationVersion() override { return "1.2.1"; }
    bool moreThanOneInstanceAllowed() override           { return true; }

    void initialise (const juce::String&) override
    {
        mainWindow = std::make_unique<juce::DocumentWindow> (getApplicationName() + " V" + getApplicationVersion(),
                                                             juce::Colours::black,
                                                             juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton);
        mainWindow->setUsingNativeTitleBar (true);
        mainWindow->setResizable (false, false);
        mainWindow->centreWithSize (650, 414);
        mainWindow->setVisible (true);
    }

    void shutdown() override { mainWindow = nullptr; }

private:
    std::unique_ptr<juce::DocumentWindow> mainWindow;
};

START_JUCE_APPLICATION (NewProjectApplication)
