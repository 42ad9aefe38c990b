#pragma once

#include <juce_gui_basics/juce_gui_basics.h>
#include <juce_data_structures/juce_data_structures.h>

#include "ui/KRAlertWindowLookAndFeel.h"

#include <functional>
#include <memory>

/** The page shown while a device is connected. In device state 1 (normal
    firmware) it offers only the switch into update mode, behind a warning to
    back up the tones; in any other state it offers the choice of a firmware
    file, shows the file's version and starts the update.

    MainComponent sets the two callbacks, writes currentState and sets the
    children's visibility to match it.
*/
class ConnectedView : public juce::Component,
                      private juce::Button::Listener
{
public:
    ConnectedView();
    ~ConnectedView() override;

    void paint (juce::Graphics&) override;
    void resized() override;

    /** The start button's image: the enabled one once a file has been chosen. */
    void setUpdateButtonImage (bool enabled);

    /** Settings of the application, the last chosen firmware file among them;
        the file is read when the user settings are first asked for, and
        written, if changed, when the returned object is deleted.
    */
    static std::unique_ptr<juce::ApplicationProperties> makeSettingsOptions();

    /** What the file dialog does with its result: an existing file becomes the
        selected path, its version is shown and its path is remembered.
    */
    void fileChosen (const juce::File& chosen);

    /** What a change of the path box's selection by the user does: the
        version of the newly selected file is shown.
    */
    void pathBoxChanged();

    /** What the back-up warning does when it is dismissed with a result. */
    void backupWarningClosed (int result);

    juce::ImageButton updateButton { "update" };
    std::function<void()> onEnterUpdateMode;
    juce::ImageButton startButton { "update" };
    std::unique_ptr<juce::FileChooser> fileChooser;
    std::function<void (juce::File)> onStartUpdate;
    juce::ComboBox pathBox;
    juce::ImageButton browseButton;
    juce::HyperlinkButton downloadLink;
    KRAlertWindowLookAndFeel alertLookAndFeel;
    int currentState = 1;
    juce::Label versionLabel;

private:
    void buttonClicked (juce::Button*) override;

    void showBackupWarning();
    void browseForFirmware();
    void startUpdate();
    void showVersionOf (const juce::File& file);

    juce::Component::SafePointer<juce::AlertWindow> backupWarning;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ConnectedView)
};
