#include "ui/MainComponent.h"

#include "device/ConstVar.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "device/PresetManager.h"
#include "device/WireFormat.h"
#include "firmware/FirmwareUpdate.h"
#include "ui/ImagePreloader.h"
#include "ui/PreferredLanguage.h"

#include "BinaryData.h"

#include <cstdio>

namespace
{
    const juce::String notCompatibleMessage = "The firmware file is not compatible with your device. ";

    juce::Typeface::Ptr makeEmbeddedTypeface()
    {
        return juce::Typeface::createSystemTypefaceFor (BinaryData::typeface_otf, (size_t) BinaryData::typeface_otfSize);
    }

    /** The translation table of the user's language: Simplified Chinese for any
        "zh" language, English for everything else.
    */
    void installTranslations()
    {
        const bool chinese = isChineseLanguage();
        const auto* text = chinese ? BinaryData::chinese_txt : BinaryData::english_txt;
        const auto size  = chinese ? BinaryData::chinese_txtSize : BinaryData::english_txtSize;

        juce::LocalisedStrings::setCurrentMappings (
            new juce::LocalisedStrings (juce::String::createStringFromData (text, size), false));
    }

    void showWarning (const juce::String& message)
    {
        juce::AlertWindow::showMessageBoxAsync (juce::AlertWindow::WarningIcon, {}, juce::translate (message), {});
    }
}

//==============================================================================
MainComponent::MainComponent()
{
    // The first page's two large images decode on other threads while the typefaces are made.
    ImagePreloader firstImages (PageImages::startImages());

    lookAndFeel.regularTypeface = makeEmbeddedTypeface();
    lookAndFeel.boldTypeface = makeEmbeddedTypeface();

    setSize (650, 414);
    juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);
    firstImages.handOver();

    // The pages translate their texts as they are built.
    installTranslations();

    connectedView = std::make_unique<ConnectedView>();
    addAndMakeVisible (*connectedView);
    connectedView->setVisible (false);
    connectedView->onEnterUpdateMode = [this] { enterUpdateMode(); };
    connectedView->onStartUpdate = [this] (juce::File file) { startFirmwareUpdate (std::move (file)); };

    disconnectedView = std::make_unique<DisconnectedView>();
    addAndMakeVisible (*disconnectedView);
    disconnectedView->setVisible (true);

    updateView = std::make_unique<UpdateView>();
    addAndMakeVisible (*updateView);
    updateView->setVisible (false);

    // The first calls build the device link; its tick starts with the device manager.
    auto* hub = PresetManager::getInstance();
    hub->addUpdateListener (this);

    KRMIDIDeviceManager::getInstance()->addConnectionListener (hub);

    engineOwner = std::make_unique<FirmwareUpdate>();
    engineOwner->senders.addIfNotAlreadyThere (hub);
    hub->addUpdateListener (engineOwner->asUpdateListener());
    engineOwner->setCommandTarget (this);
    engineOwner->resetUpdate();
    firmwareUpdate = engineOwner.get();
}

MainComponent::~MainComponent()
{
    // No delivery may reach the listeners while they leave the hub: stop the ports first.
    MIDIManager::getInstance()->getPortPair().close();

    auto* hub = PresetManager::getInstance();
    hub->removeUpdateListener (this);

    connectedView = nullptr;
    disconnectedView = nullptr;
    updateView = nullptr;

    // After the pages, before the look-and-feel.
    if (auto* engine = getFirmwareUpdate())
        hub->removeUpdateListener (engine->asUpdateListener());

    engineOwner = nullptr;
}

FirmwareUpdate* MainComponent::getFirmwareUpdate() const
{
    return dynamic_cast<FirmwareUpdate*> (firmwareUpdate.getComponent());
}

void MainComponent::paint (juce::Graphics&)
{
    // The pages get their size here, not in resized.
    connectedView->setBounds (0, 0, getWidth(), getHeight());
    disconnectedView->setBounds (0, 0, getWidth(), getHeight());
    updateView->setBounds (0, 0, getWidth(), getHeight());
}

void MainComponent::resized() {}

//==============================================================================
void MainComponent::deviceConnected()
{
    MIDIManager::getInstance()->sendDeviceState();
    startTimer (watchdogTimerId, watchdogIntervalMs);
}

void MainComponent::deviceState (int state, bool)
{
    stopTimer (watchdogTimerId);

    if (handshakeCount.load() == 0)
    {
        juce::MessageManager::callAsync ([safe = self, state]
        {
            if (safe != nullptr)
                safe->showConnectedPage (state);
        });

        if (state == normalModeState)
        {
            startTimer (handshakeTimerId, handshakeIntervalMs);
            handshakeAnswered = true;
        }
    }
    else if (state == normalModeState)
    {
        handshakeAnswered = true;
    }
}

void MainComponent::deviceDisconnected()
{
    juce::MessageManager::callAsync ([safe = self]
    {
        if (safe != nullptr)
            safe->showDisconnectedPage();
    });
}

void MainComponent::showConnectedPage (int state)
{
    auto& page = *connectedView;
    const bool normalMode = state == normalModeState;

    page.currentState = state;
    page.updateButton.setVisible (normalMode);

    juce::Component* const fileControls[] = { &page.pathBox, &page.browseButton, &page.startButton,
                                              &page.downloadLink, &page.versionLabel };

    for (auto* control : fileControls)
        control->setVisible (! normalMode);

    page.repaint();

    page.setVisible (true);
    disconnectedView->setVisible (false);
    updateView->setVisible (false);
}

void MainComponent::showDisconnectedPage()
{
    if (auto* engine = getFirmwareUpdate())
        engine->blocksDone = 0;

    updateView->setProgress (0.0);
    connectedView->setVisible (false);

    disconnectedView->helpButton->setVisible (true);
    disconnectedView->backButton->setVisible (false);
    disconnectedView->downloadLink->setVisible (false);
    disconnectedView->helpImage.setVisible (false);

    disconnectedView->setVisible (true);
    updateView->setVisible (false);

    handshakeCount = 0;
    stopTimer (handshakeTimerId);
}

//==============================================================================
void MainComponent::timerCallback (int timerID)
{
    if (timerID == watchdogTimerId)
    {
        // Keeps running: the close is repeated until the device answers.
        closeSilentDevice();
    }
    else if (timerID == handshakeTimerId)
    {
        if (handshakeCount.load() < handshakeFrames)
        {
            handshakeAnswered = false;
            sendHandshake();
        }
        else
        {
            const bool answered = handshakeAnswered.load();
            stopTimer (handshakeTimerId);

            if (! answered)
                closeSilentDevice();

            handshakeCount = 0;
        }
    }
}

void MainComponent::closeSilentDevice()
{
    auto* manager = MIDIManager::getInstance();
    manager->getPortPair().close();
    manager->getStateMachine().fireEvent (evCloseDevice, nullptr);
}

//==============================================================================
juce::MidiMessage MainComponent::makeSingleRecordFrame (juce::uint8 command, juce::uint16 recordType)
{
    // One data packet: total 4, offset 0, an empty record of the type, nibble-coded.
    const juce::uint8 record[] = { (juce::uint8) (recordType & 0xFF), (juce::uint8) (recordType >> 8), 0, 0 };

    juce::Array<juce::uint8> frame;
    frame.add (0xF0);
    frame.addArray (WireFormat::sysExSignature, WireFormat::signatureSize);
    frame.addArray ({ command, (juce::uint8) 0x04, (juce::uint8) 0x00, (juce::uint8) 0x00, (juce::uint8) 0x00 });

    for (auto byte : record)
        frame.addArray ({ (juce::uint8) (byte >> 4), (juce::uint8) (byte & 0x0F) });

    frame.add (0xF7);
    return juce::MidiMessage (frame.getRawDataPointer(), frame.size(), 0.0);
}

void MainComponent::sendUserFrame (const juce::MidiMessage& frame)
{
    auto* manager = MIDIManager::getInstance();

    if (manager->isCanSendUserMsg.load())
        manager->getStateMachine().fireEvent (evSendSysEx, const_cast<void*> (static_cast<const void*> (&frame)));
}

void MainComponent::sendHandshake()
{
    sendUserFrame (makeSingleRecordFrame (WireFormat::commandDataPacket, 0x2001));

    // Counted whether or not the frame could go out.
    ++handshakeCount;
}

void MainComponent::enterUpdateMode()
{
    const auto frame = makeSingleRecordFrame (WireFormat::commandJump, 0x2000);
    const auto* bytes = frame.getRawData();

    for (int i = 1; i < frame.getRawDataSize() - 1; ++i)
        std::printf ("%02X,", bytes[i]);

    std::fflush (stdout);
    sendUserFrame (frame);
}

//==============================================================================
void MainComponent::startFirmwareUpdate (juce::File file)
{
    updateView->setVisible (true);
    connectedView->setVisible (false);

    auto* engine = getFirmwareUpdate();

    if (engine != nullptr && engine->startUpdate (file, ConstVar::getInstance()->isFullSizeModel))
        return;

    showNotCompatibleAlert();
}

void MainComponent::handleCommandMessage (int commandId)
{
    auto* engine = getFirmwareUpdate();

    if (engine == nullptr)
        return;

    if (commandId == updateProgress)
    {
        const auto done = (double) engine->blocksDone.load();
        const auto total = (double) engine->totalBlocks.load();

        if (total > 0.0)
            updateView->setProgress (done / total);
    }
    else if (commandId == sectionRefused)
    {
        engine->blocksDone = 0;
        updateView->setProgress (0.0);
        updateView->setVisible (false);
        showWarning (notCompatibleMessage);
        connectedView->setVisible (true);
    }
}

void MainComponent::showNotCompatibleAlert()
{
    showWarning (notCompatibleMessage);
    updateView->setVisible (false);
    connectedView->setVisible (true);
}
