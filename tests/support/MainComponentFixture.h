#pragma once

#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "firmware/FirmwareUpdate.h"
#include "tests/support/AppTesting.h"
#include "tests/support/DeviceStateResponder.h"
#include "tests/support/VirtualMidiDevice.h"
#include "ui/MainComponent.h"

#include <gtest/gtest.h>

/** A MainComponent in British English with a home of its own, on a fresh device link whose ports are a
    virtual device, unplugged at first. The link's 100 ms tick is stopped: tests tick by hand. */
class MainComponentFixture : public ::testing::Test
{
protected:
    void SetUp() override       { home.createDirectory(); env.set ("HOME", home.getFullPathName().toRawUTF8()); env.set ("LANGUAGE", "en_GB"); device.unplug(); rebuild(); }
    void TearDown() override    { dismissAllAlerts(); main = nullptr; settle(); deleteTrafficSingletons(); home.deleteRecursively(); }
    void rebuild()              { main = nullptr; main = std::make_unique<MainComponent>(); manager().stopTimer(); }
    MIDIManager& manager()      { return *MIDIManager::getInstance(); }
    juce::uint32 linkState()    { return manager().getStateMachine().getCurrentState(); }
    FirmwareUpdate& engine()    { return *main->getFirmwareUpdate(); }
    void handshakeTick (int times = 1)   { while (--times >= 0) main->timerCallback (MainComponent::handshakeTimerId); }
    void settle()               { pumpMessagesFor (30); }

    /** Plugs the device in and ticks until it is connected, with user frames allowed or not. */
    void connect (bool allowUserFrames = true)
    {
        device.plug();

        for (int i = 0; i < 40 && linkState() != stateConnected; ++i)
            manager().timerCallback();

        ASSERT_EQ (linkState(), (juce::uint32) stateConnected);
        manager().isCanSendUserMsg = allowUserFrames;
    }

    /** The device answers with this state on its input thread; returns once what it posted has run. */
    void answer (int state)   { device.sendToHost (DeviceStateResponder::makeSystemReply (state, std::nullopt)); ASSERT_TRUE (device.waitUntilDelivered()); settle(); }

    std::vector<std::vector<juce::uint8>> takeWritten()
    {
        std::vector<std::vector<juce::uint8>> messages;

        for (auto& w : device.getWrittenMessages())
            messages.emplace_back (w.message.getRawData(), w.message.getRawData() + w.message.getRawDataSize());

        device.clearWritten();
        return messages;
    }

    const juce::File home = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("norvo-" + juce::Uuid().toString());
    ScopedEnv env;
    VirtualMidiDevice device;
    VirtualMidiDevice::ScopedInstall install { device };
    std::unique_ptr<MainComponent> main;
};
