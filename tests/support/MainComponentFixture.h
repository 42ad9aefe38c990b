#pragma once

#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "firmware/FirmwareUpdate.h"
#include "tests/support/AppTesting.h"
#include "tests/support/VirtualMidiDevice.h"
#include "ui/MainComponent.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

/** A MainComponent on a fresh device link whose port layer is a virtual device,
    unplugged at first. The 100 ms tick is stopped: tests tick by hand. The
    language is British English unless a test builds the component again.
*/
class MainComponentFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    /** Deletes the component and builds a new one, for tests that change the environment first. */
    void rebuild();

    MIDIManager& manager()          { return *MIDIManager::getInstance(); }
    MIDIPortPair& portPair()        { return manager().getPortPair(); }
    juce::uint32 linkState()        { return manager().getStateMachine().getCurrentState(); }
    FirmwareUpdate& engine()        { return *main->getFirmwareUpdate(); }

    void tick (int count = 1);

    /** Plugs the device in and ticks until it is connected; the state request is
        scheduled as usual, 1000 ms later.
    */
    void connect();

    /** Opens the user-message gate at once, as the state request does. */
    void allowUserFrames();

    /** The device answers with a system reply carrying this state, on its input thread;
        returns once the message loop has run what the answer posted.
    */
    void answer (int state);

    /** Everything written to the device since the last call. */
    std::vector<juce::MidiMessage> takeWritten();

    /** Lets posted closures run. */
    void settle();

    static std::vector<juce::uint8> bytesOf (const juce::MidiMessage& message);

    bool onlyVisiblePageIs (const juce::Component& page) const;

    ScopedLanguage language;
    VirtualMidiDevice device;
    std::unique_ptr<VirtualMidiDevice::ScopedInstall> install;
    std::unique_ptr<MainComponent> main;

    /** When the last connection was reported; the tear-down lets its state request run. */
    juce::uint32 lastConnectionTime = 0;
};
