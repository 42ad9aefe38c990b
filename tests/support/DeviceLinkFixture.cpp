#include "tests/support/DeviceLinkFixture.h"

#include "device/OneButtonAlert.h"
#include "tests/support/DeviceLinkSingletons.h"

void DeviceLinkFixture::SetUp()
{
    useDevice ("Norvo", "Norvo");
    setOneButtonAlertInterceptor ([] (auto&&...) {});

    KRMIDIDeviceManager::getInstance()->addConnectionListener (this);
    manager().stopTimer();
    fsm().addMessageListener (this);
}

void DeviceLinkFixture::TearDown()
{
    deleteDeviceLinkSingletons();
    setOneButtonAlertInterceptor (nullptr);
    install.reset();
    device.reset();
}

VirtualMidiDevice& DeviceLinkFixture::useDevice (const juce::String& outputName, const juce::String& inputName)
{
    install.reset();
    device = std::make_unique<VirtualMidiDevice> (outputName, inputName);
    install = std::make_unique<VirtualMidiDevice::ScopedInstall> (*device);
    return *device;
}

void DeviceLinkFixture::tick (int count)
{
    for (int i = 0; i < count; ++i)
        manager().timerCallback();
}

void DeviceLinkFixture::connect()
{
    tick();
    ASSERT_EQ (state(), stateConnected);
    ASSERT_TRUE (portPair().hasOutput() && portPair().hasInput());
    takeConnectionEvents();
}

juce::MidiMessage DeviceLinkFixture::frame()
{
    const juce::uint8 bytes[] { 0xF0, 0x7E, 0x48, 0x01, 0xF7 };
    return juce::MidiMessage (bytes, (int) sizeof (bytes));
}

void DeviceLinkFixture::send (const juce::MidiMessage& message)
{
    fsm().fireEvent (evSendSysEx, const_cast<juce::MidiMessage*> (&message));
}

std::vector<int> DeviceLinkFixture::takeConnectionEvents()
{
    const std::lock_guard<std::mutex> guard (lock);
    return std::exchange (connectionEvents, {});
}

std::vector<juce::MidiMessage> DeviceLinkFixture::takeDelivered()
{
    const std::lock_guard<std::mutex> guard (lock);
    return std::exchange (delivered, {});
}

void DeviceLinkFixture::record (int connectionEvent)
{
    const std::lock_guard<std::mutex> guard (lock);
    connectionEvents.push_back (connectionEvent);
}

void DeviceLinkFixture::handleMidiMessage (const juce::MidiMessage& message)
{
    const std::lock_guard<std::mutex> guard (lock);
    delivered.push_back (message);
}
