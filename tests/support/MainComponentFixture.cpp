#include "tests/support/MainComponentFixture.h"

#include "device/MIDIUSBFsm.h"

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

void MainComponentFixture::connect (bool allowUserFrames)
{
    device.plug();

    for (int i = 0; i < 40 && linkState() != stateConnected; ++i)
        manager().timerCallback();

    ASSERT_EQ (linkState(), (juce::uint32) stateConnected);
    manager().isCanSendUserMsg = allowUserFrames;
}

void MainComponentFixture::answer (int state)
{
    device.sendToHost (DeviceStateResponder::makeSystemReply (state, std::nullopt));
    ASSERT_TRUE (device.waitUntilDelivered());
    settle();
}

std::vector<std::vector<juce::uint8>> MainComponentFixture::takeWritten()
{
    std::vector<std::vector<juce::uint8>> messages;

    for (auto& written : device.getWrittenMessages())
        messages.emplace_back (written.message.getRawData(), written.message.getRawData() + written.message.getRawDataSize());

    device.clearWritten();
    return messages;
}
