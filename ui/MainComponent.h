#pragma once

#include "device/UpdateUIListener.h"
#include "ui/ConnectedView.h"
#include "ui/DefaultLookAndFeel.h"
#include "ui/DisconnectedView.h"
#include "ui/UpdateView.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <memory>

class FirmwareUpdate;

/** The content of the main window. It owns the three pages, the application's
    default look-and-feel and the update engine, brings up the device link, and
    moves between the pages as the device connects, reports its state and goes.

    While the device runs its normal firmware it is asked for its state four
    more times, one second apart; a device that leaves the last request
    unanswered, or that never answers after connecting, is closed.
*/
class MainComponent : public juce::Component,
                      private UpdateUIListener,
                      private juce::MultiTimer
{
public:
    static constexpr int handshakeTimerId = 123456;
    static constexpr int watchdogTimerId  = 234567;
    static constexpr int handshakeIntervalMs = 1000;
    static constexpr int watchdogIntervalMs  = 3000;
    static constexpr int handshakeFrames = 4;

    /** The device state of its normal firmware; any other state means update mode. */
    static constexpr int normalModeState = 1;

    MainComponent();
    ~MainComponent() override;

    void paint (juce::Graphics&) override;
    void resized() override;

    //==============================================================================
    // What the hub reports. deviceState runs on the MIDI input thread.
    void deviceConnected() override;
    void deviceState (int state, bool flag) override;
    void deviceDisconnected() override;

    /** The handshake and watchdog ticks. */
    void timerCallback (int timerID) override;

    /** Acts on the update engine's progress (241) and refused section (262). */
    void handleCommandMessage (int commandId) override;

    //==============================================================================
    /** Sends one device-information request of the handshake and counts it. */
    void sendHandshake();

    /** Sends the frame that switches the device into update mode. */
    void enterUpdateMode();

    /** Shows the update page and starts an update from the file; a file that does
        not fit the device brings the not-compatible alert and the connected page back.
    */
    void startFirmwareUpdate (juce::File file);

    //==============================================================================
    /** The handshake frame (command 0x11) or the mode-switch frame (0x12), F0 ... F7. */
    static juce::MidiMessage makeSingleRecordFrame (juce::uint8 command, juce::uint16 recordType);

    ConnectedView& getConnectedView() const noexcept         { return *connectedView; }
    DisconnectedView& getDisconnectedView() const noexcept   { return *disconnectedView; }
    UpdateView& getUpdateView() const noexcept               { return *updateView; }
    FirmwareUpdate* getFirmwareUpdate() const;

    int getHandshakeCount() const noexcept                   { return handshakeCount.load(); }
    bool isHandshakeAnswered() const noexcept                { return handshakeAnswered.load(); }

    using juce::MultiTimer::isTimerRunning;
    using juce::MultiTimer::getTimerInterval;

private:
    void showConnectedPage (int state);
    void showDisconnectedPage();
    void showNotCompatibleAlert();
    void closeSilentDevice();
    static void sendUserFrame (const juce::MidiMessage& frame);

    // The engine, owned by engineOwner and reached through this weak reference.
    juce::Component::SafePointer<juce::Component> firmwareUpdate;
    std::unique_ptr<ConnectedView> connectedView;
    std::unique_ptr<DisconnectedView> disconnectedView;
    std::unique_ptr<UpdateView> updateView;
    DefaultLookAndFeel lookAndFeel;

    // Written on the message thread and read and written by deviceState on the MIDI input thread.
    std::atomic<int> handshakeCount { 0 };
    std::atomic<bool> handshakeAnswered { false };

    std::unique_ptr<FirmwareUpdate> engineOwner;

    // Made here on the message thread, so that the closures and command messages that
    // other threads post to this component only copy it.
    const juce::Component::SafePointer<MainComponent> self { this };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
