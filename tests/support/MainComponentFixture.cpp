#include "tests/support/MainComponentFixture.h"

#include "device/MIDIUSBFsm.h"
#include "tests/support/AppTesting.h"
#include "tests/support/MessageLoop.h"

void MainComponentFixture::SetUp()
{
    language.use ("en_GB.UTF-8");
    device.unplug();
    install = std::make_unique<VirtualMidiDevice::ScopedInstall> (device);
    rebuild();
}

void MainComponentFixture::TearDown()
{
    dismissAllAlerts();

    // A state request still pending would outlive the test; let it run first.
    if (lastConnectionTime != 0)
        pumpMessagesUntil ([this] { return juce::Time::getMillisecondCounter() - lastConnectionTime
                                             > (juce::uint32) MIDIManager::deviceStateDelayMs + 100; },
                           5000);

    main = nullptr;
    settle();
    deleteWholeDeviceLink();
    install = nullptr;
}

void MainComponentFixture::rebuild()
{
    main = nullptr;
    main = std::make_unique<MainComponent>();
    manager().stopTimer();
}

void MainComponentFixture::tick (int count)
{
    for (int i = 0; i < count; ++i)
        manager().timerCallback();
}

void MainComponentFixture::connect()
{
    device.plug();

    for (int i = 0; i < 40 && linkState() != stateConnected; ++i)
        tick();

    ASSERT_EQ (linkState(), (juce::uint32) stateConnected);
    ASSERT_TRUE (portPair().hasInput() && portPair().hasOutput());
    lastConnectionTime = juce::Time::getMillisecondCounter();
}

void MainComponentFixture::allowUserFrames()
{
    manager().isCanSendUserMsg = true;
}

void MainComponentFixture::answer (int state)
{
    const juce::uint8 reply[] = { 0xF0, 0x21, 0x25, 0x7E, 'M', 'Z', '-', 0x0A, 0x11,
                                  0x12, 0x00, 0x00, 0x00, (juce::uint8) state, 0xF7 };
    device.sendToHost (juce::MidiMessage (reply, (int) sizeof (reply)));
    ASSERT_TRUE (device.waitUntilDelivered());
    settle();
}

std::vector<juce::MidiMessage> MainComponentFixture::takeWritten()
{
    std::vector<juce::MidiMessage> messages;

    for (auto& written : device.getWrittenMessages())
        messages.push_back (written.message);

    device.clearWritten();
    return messages;
}

void MainComponentFixture::settle()
{
    pumpMessagesFor (30);
}

std::vector<juce::uint8> MainComponentFixture::bytesOf (const juce::MidiMessage& message)
{
    const auto* data = message.getRawData();
    return { data, data + message.getRawDataSize() };
}

bool MainComponentFixture::onlyVisiblePageIs (const juce::Component& page) const
{
    int visible = 0;

    for (auto* child : main->getChildren())
        visible += child->isVisible() ? 1 : 0;

    return visible == 1 && page.isVisible();
}
