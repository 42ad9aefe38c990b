#pragma once

#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "firmware/FirmwareUpdate.h"
#include "tests/support/AppTesting.h"
#include "tests/support/DeviceStateResponder.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/VirtualMidiDevice.h"
#include "ui/MainComponent.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

/** A MainComponent in British English on a fresh device link whose port layer is a
    virtual device, unplugged at first. The 100 ms tick is stopped: tests tick by hand.
*/
class MainComponentFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    /** Deletes the component and builds a new one, for tests that change the environment first. */
    void rebuild();

    MIDIManager& manager()              { return *MIDIManager::getInstance(); }
    juce::uint32 linkState()            { return manager().getStateMachine().getCurrentState(); }
    FirmwareUpdate& engine()            { return *main->getFirmwareUpdate(); }
    void handshakeTick()                { main->timerCallback (MainComponent::handshakeTimerId); }

    /** Plugs the device in and ticks until it is connected; user frames are allowed
        at once when the flag says so.
    */
    void connect (bool allowUserFrames = true);

    /** The device answers with a system reply carrying this state, on its input thread;
        returns once the message loop has run what the answer posted.
    */
    void answer (int state);

    /** Everything written to the device since the last call, as bytes. */
    std::vector<std::vector<juce::uint8>> takeWritten();

    /** Lets posted closures run. */
    void settle()                       { pumpMessagesFor (30); }

    ScopedLanguage language;
    VirtualMidiDevice device;
    std::unique_ptr<VirtualMidiDevice::ScopedInstall> install;
    std::unique_ptr<MainComponent> main;
};
