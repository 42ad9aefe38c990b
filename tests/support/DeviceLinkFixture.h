#pragma once

#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "tests/support/VirtualMidiDevice.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

/** A test case with a fresh device link on a virtual device. The 100 ms timer is stopped:
    tests tick by hand. Alerts are swallowed instead of shown. Connection events are
    recorded as 0 connected, 1 disconnected, 2 close ignored.
*/
class DeviceLinkFixture : public ::testing::Test,
                          public MIDIDeviceInterfaceListener,
                          public MIDIMessageListener
{
protected:
    void SetUp() override;
    void TearDown() override;

    /** Replaces the virtual device (default: one named "Norvo" both ways). */
    VirtualMidiDevice& useDevice (const juce::String& outputName, const juce::String& inputName);

    MIDIManager& manager()          { return *MIDIManager::getInstance(); }
    MIDIUSBFsm& fsm()               { return manager().getStateMachine(); }
    MIDIPortPair& portPair()        { return manager().getPortPair(); }
    juce::uint32 state()            { return fsm().getCurrentState(); }
    void closeDevice()              { KRMIDIDeviceManager::getInstance()->closeDevice(); }

    void tick (int count = 1);

    /** Ticks until connected with both ports open. */
    void connect();

    /** A short SysEx frame, F0 7E 48 01 F7. */
    static juce::MidiMessage frame();
    void send (const juce::MidiMessage& message);

    std::vector<int> takeConnectionEvents();
    std::vector<juce::MidiMessage> takeDelivered();

    std::unique_ptr<VirtualMidiDevice> device;

private:
    void deviceConnected() override     { record (0); }
    void deviceDisconnected() override  { record (1); }
    void deviceCloseIgnored() override  { record (2); }
    void handleMidiMessage (const juce::MidiMessage& message) override;
    void record (int connectionEvent);

    std::unique_ptr<VirtualMidiDevice::ScopedInstall> install;
    std::mutex lock;
    std::vector<int> connectionEvents;
    std::vector<juce::MidiMessage> delivered;
};
