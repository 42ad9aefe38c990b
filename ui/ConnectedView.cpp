#include "ui/ConnectedView.h"

#include "device/SharedConstants.h"
#include "firmware/FirmwareFile.h"
#include "ui/ButtonImage.h"
#include "ui/PageImages.h"
#include "ui/PreferredLanguage.h"
#include "ui/SupportPage.h"

#include <optional>

namespace
{
    constexpr juce::int64 versionOffset = 28;

    /** The version of a firmware file as "V 1.2.10": the first version byte as a
        character, then the other three in decimal. Nothing when the file cannot
        be read or ends before its version.
    */
    std::optional<juce::String> readVersionText (const juce::File& file)
    {
        // Through the firmware reader: only a regular file is opened, so a FIFO cannot block the page.
        std::vector<juce::uint8> start;

        if (! FirmwareFile::readFileStart (file, (size_t) (versionOffset + 4), start)
            || start.size() != (size_t) (versionOffset + 4))
            return std::nullopt;

        const auto* bytes = start.data() + versionOffset;

        return juce::String::charToString ((juce::juce_wchar) bytes[0])
               + " " + juce::String (bytes[1])
               + "." + juce::String (bytes[2])
               + "." + juce::String (bytes[3]);
    }

    /** A stored or displayed path as a file; anything but a full path names no file. */
    juce::File fileFromPath (const juce::String& path)
    {
        return juce::File::isAbsolutePath (path) ? juce::File (path) : juce::File();
    }
}

ConnectedView::ConnectedView()
    : downloadLink (juce::translate ("There's no new firmware yet. Download it"), juce::URL (SupportPage::address))
{
    addAndMakeVisible (updateButton);
    updateButton.addListener (this);
    setButtonImage (updateButton, PageImages::startButton (false));

    addAndMakeVisible (pathBox);
    pathBox.setEditableText (false);
    pathBox.setColour (juce::ComboBox::backgroundColourId, juce::Colour (0x00000000));

    setButtonImage (browseButton, PageImages::browseButton());
    addAndMakeVisible (browseButton);
    browseButton.addListener (this);

    pathBox.onChange = [this] { pathBoxChanged(); };
    pathBox.setTextWhenNoChoicesAvailable ({});

    addAndMakeVisible (startButton);
    startButton.addListener (this);
    setUpdateButtonImage (false);

    const juce::Font textFont (12.0f);

    downloadLink.setFont (textFont, false);
    downloadLink.setJustificationType (juce::Justification::right);
    downloadLink.setColour (juce::HyperlinkButton::textColourId, juce::Colour (0xffd9b776));
    addAndMakeVisible (downloadLink);

    versionLabel.setFont (textFont);
    versionLabel.setJustificationType (juce::Justification::left);
    versionLabel.setEditable (false, false, false);
    addAndMakeVisible (versionLabel);
}

ConnectedView::~ConnectedView()
{
    // A back-up warning still open outlives this page: it must not keep using
    // the look-and-feel that dies with it.
    if (backupWarning != nullptr)
        backupWarning->setLookAndFeel (nullptr);
}

void ConnectedView::paint (juce::Graphics& g)
{
    const bool deviceInUpdateMode = currentState != 1;
    const auto background = PageImages::connectedPage (deviceInUpdateMode);

    g.drawImage (background, 0, 0, getWidth(), getHeight(),
                 0, 0, background.getWidth(), background.getHeight());

    if (deviceInUpdateMode)
    {
        g.setFont (juce::Font (12.0f));
        g.setColour (juce::Colour (0xffffffff));
        g.drawText (juce::translate ("Updated version:"), 270, 244, 103, 17, juce::Justification::left, true);
    }
}

void ConnectedView::resized()
{
    updateButton.setBounds (286, 349, 79, 28);
    pathBox.setBounds (270, 186, 270, 28);
    browseButton.setBounds (550, 186, 28, 28);
    startButton.setBounds (499, 235, 79, 28);
    downloadLink.setBounds (303, 294, 280, 20);
    versionLabel.setBounds (isChineseLanguage() ? 320 : 380, 244, 100, 17);
}

void ConnectedView::setUpdateButtonImage (bool enabled)
{
    setButtonImage (startButton, PageImages::startButton (enabled));
    startButton.setBounds (startButton.getX(), startButton.getY(), 79, 28);
}

std::unique_ptr<juce::ApplicationProperties> ConnectedView::makeSettingsOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = "NorvoUpdate";
    options.filenameSuffix = "settings";
    options.folderName = {};
    options.osxLibrarySubFolder = "Preferences";
    options.commonToAllUsers = false;
    options.ignoreCaseOfKeyNames = false;
    options.doNotSave = false;
    options.millisecondsBeforeSaving = 3000;
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    options.processLock = nullptr;

    auto properties = std::make_unique<juce::ApplicationProperties>();
    properties->setStorageParameters (options);
    return properties;
}

void ConnectedView::buttonClicked (juce::Button* button)
{
    if (button == &updateButton)
        showBackupWarning();
    else if (button == &browseButton)
        browseForFirmware();
    else if (button == &startButton)
        startUpdate();
}

void ConnectedView::showBackupWarning()
{
    auto alert = std::make_unique<juce::AlertWindow> (juce::translate ("Warning"),
                                                      juce::translate ("To prevent unexpected situations during firmware updates, "
                                                                       "be sure to back up your tones. \n Are you sure to continue?"),
                                                      juce::MessageBoxIconType::NoIcon,
                                                      nullptr);
    alert->addButton (juce::translate ("Cancel"), 0);
    alert->addButton (juce::translate ("Continue"), 1);
    alert->setColour (juce::AlertWindow::backgroundColourId, juce::Colour (0xff27282b));
    alert->setLookAndFeel (&alertLookAndFeel);

    backupWarning = alert.get();

    // The modal manager owns the window from here and deletes it when it is dismissed.
    alert.release()->enterModalState (true,
                                      juce::ModalCallbackFunction::create ([page = juce::Component::SafePointer<ConnectedView> (this)] (int result)
                                      {
                                          if (page != nullptr)
                                              page->backupWarningClosed (result);
                                      }),
                                      true);
}

void ConnectedView::backupWarningClosed (int result)
{
    if (result == 1 && onEnterUpdateMode != nullptr)
        onEnterUpdateMode();
}

void ConnectedView::browseForFirmware()
{
    const auto settings = makeSettingsOptions();
    juce::String lastChosenPath;

    if (auto* userSettings = settings->getUserSettings())
        lastChosenPath = userSettings->getValue (SETTINGS_FIRMWARE_DIR);

    fileChooser = std::make_unique<juce::FileChooser> (juce::String(), fileFromPath (lastChosenPath), "*.bin", true);
    fileChooser->launchAsync (juce::FileBrowserComponent::openMode | juce::FileBrowserComponent::canSelectFiles,
                              [this] (const juce::FileChooser& chooser) { fileChosen (chooser.getResult()); });
}

void ConnectedView::fileChosen (const juce::File& chosen)
{
    const auto path = chosen.getFullPathName();

    if (path.isEmpty() || ! chosen.existsAsFile())
        return;

    pathBox.setText (path, juce::dontSendNotification);
    pathBox.addItem (path, pathBox.getNumItems() + 1);
    pathBox.setSelectedId (pathBox.getNumItems(), juce::dontSendNotification);

    // Deleting the settings object at the end of this scope writes the file at
    // once if the stored path changed.
    const auto settings = makeSettingsOptions();

    if (auto* userSettings = settings->getUserSettings())
        userSettings->setValue (SETTINGS_FIRMWARE_DIR, path);

    showVersionOf (chosen);
}

void ConnectedView::pathBoxChanged()
{
    const auto selected = fileFromPath (pathBox.getText());

    if (selected.existsAsFile())
        showVersionOf (selected);
}

void ConnectedView::showVersionOf (const juce::File& file)
{
    const auto version = readVersionText (file);
    versionLabel.setText (version.value_or (juce::String()), juce::dontSendNotification);

    if (version.has_value())
        setUpdateButtonImage (true);
}

void ConnectedView::startUpdate()
{
    const auto path = pathBox.getText();

    if (path.isEmpty())
    {
        juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::WarningIcon, {},
                                                juce::translate ("Select a file path"), {});
        return;
    }

    if (onStartUpdate != nullptr)
        onStartUpdate (juce::File (path));
}
