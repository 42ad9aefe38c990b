#include "tests/e2e/VirtualNorvo.h"

#include "tests/support/DeviceStateResponder.h"

namespace
{
    /** Record 0x2001 (state, model type 0) in one data packet chunk. */
    juce::MidiMessage makeInformationAnswer (int state)
    {
        const juce::uint8 payload[] = { 0x01, 0x20, 0x04, 0x00, (juce::uint8) state, 0x00, 0x00, 0x00 };
        std::vector<juce::uint8> frame { 0xF0, 0x21, 0x25, 0x7E, 'M', 'Z', '-', 0x0A, 0x11,
                                         (juce::uint8) sizeof (payload), 0x00, 0x00, 0x00 };

        for (auto byte : payload)
            frame.insert (frame.end(), { (juce::uint8) (byte >> 4), (juce::uint8) (byte & 0x0F) });

        frame.push_back (0xF7);
        return juce::MidiMessage (frame.data(), (int) frame.size());
    }

    /** An output that shows every message to a hook before writing it. */
    struct ObservedOutput : public MidiOutputPort
    {
        ObservedOutput (std::unique_ptr<MidiOutputPort> port, std::function<void (const juce::MidiMessage&)> hook)
            : inner (std::move (port)), beforeWrite (std::move (hook)) {}

        juce::String getName() const override      { return inner->getName(); }
        void stopBackgroundThread() override       { inner->stopBackgroundThread(); }

        void sendMessageNow (const juce::MidiMessage& message) override
        {
            beforeWrite (message);
            inner->sendMessageNow (message);
        }

        std::unique_ptr<MidiOutputPort> inner;
        std::function<void (const juce::MidiMessage&)> beforeWrite;
    };

    /** An input that notes when it is stopped. */
    struct ObservedInput : public MidiInputPort
    {
        ObservedInput (std::unique_ptr<MidiInputPort> port, std::atomic<double>& time) : inner (std::move (port)), stopTime (time) {}

        juce::String getIdentifier() const override    { return inner->getIdentifier(); }
        juce::String getName() const override          { return inner->getName(); }
        void start() override                          { inner->start(); }
        void stop() override                           { stopTime = juce::Time::getMillisecondCounterHiRes(); inner->stop(); }

        std::unique_ptr<MidiInputPort> inner;
        std::atomic<double>& stopTime;
    };
}

//==============================================================================
class VirtualNorvo::AnsweringPorts : public MidiPorts
{
public:
    AnsweringPorts (std::unique_ptr<MidiPorts> ports, VirtualNorvo& owner) : inner (std::move (ports)), norvo (owner) {}

    juce::Array<juce::MidiDeviceInfo> getOutputDevices() override   { return inner->getOutputDevices(); }
    juce::Array<juce::MidiDeviceInfo> getInputDevices() override    { return inner->getInputDevices(); }

    std::unique_ptr<MidiInputPort> openInput (int index, MidiPortCallback* callback) override
    {
        auto input = inner->openInput (index, callback);

        if (input == nullptr)
            return nullptr;

        norvo.lastOpenTime = juce::Time::getMillisecondCounterHiRes();
        return std::make_unique<ObservedInput> (std::move (input), norvo.lastCloseTime);
    }

    std::unique_ptr<MidiOutputPort> openOutput (int index) override
    {
        auto output = inner->openOutput (index);

        if (output == nullptr)
            return nullptr;

        return std::make_unique<ObservedOutput> (std::move (output), [&owner = norvo] (const juce::MidiMessage& m) { owner.beforeWrite (m); });
    }

private:
    std::unique_ptr<MidiPorts> inner;
    VirtualNorvo& norvo;
};

//==============================================================================
VirtualNorvo::VirtualNorvo()
{
    device.unplug();
    MidiPorts::install (std::make_unique<AnsweringPorts> (device.createPorts(), *this));
}

VirtualNorvo::~VirtualNorvo()
{
    MidiPorts::install (nullptr);
}

void VirtualNorvo::beforeWrite (const juce::MidiMessage& message)
{
    const auto* d = message.getRawData();
    const bool isDataBlock = message.getRawDataSize() > 4 && d[0] == 0xF0 && d[1] == 0x7E && d[2] == 0x48 && d[3] == 0x04;

    if (isDataBlock && ++blocksWritten == pauseAtBlock)
        peer.stayQuietAt (VirtualUpdatePeer::Step::block);

    const bool information = DeviceStateResponder::isInformationRequest (message);

    if (! (information || DeviceStateResponder::isStateRead (message)) || ! plugged)
        return;

    ++stateRequests;

    if (answersLeft == 0)
        return;

    if (answersLeft > 0)
        --answersLeft;

    device.sendToHost (information ? makeInformationAnswer (state) : DeviceStateResponder::makeSystemReply (state, std::nullopt));
}
