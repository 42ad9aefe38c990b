#include "device/MidiPorts.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace
{
    class JuceOutputPort final : public MidiOutputPort
    {
    public:
        explicit JuceOutputPort (std::unique_ptr<juce::MidiOutput> outputToUse)
            : output (std::move (outputToUse))
        {
        }

        juce::String getName() const override                          { return output->getName(); }
        void sendMessageNow (const juce::MidiMessage& message) override { output->sendMessageNow (message); }
        void stopBackgroundThread() override                            { output->stopBackgroundThread(); }

    private:
        std::unique_ptr<juce::MidiOutput> output;
    };

    class JuceInputPort final : public MidiInputPort,
                                private juce::MidiInputCallback
    {
    public:
        explicit JuceInputPort (MidiPortCallback& callbackToUse)
            : callback (callbackToUse)
        {
        }

        bool open (const juce::String& identifier)
        {
            input = juce::MidiInput::openDevice (identifier, this);
            return input != nullptr;
        }

        juce::String getIdentifier() const override    { return input->getIdentifier(); }
        juce::String getName() const override          { return input->getName(); }
        void start() override                          { input->start(); }
        void stop() override                           { input->stop(); }

    private:
        void handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& message) override
        {
            callback.handleIncomingMidiMessage (source != nullptr ? source->getIdentifier() : juce::String(), message);
        }

        MidiPortCallback& callback;
        std::unique_ptr<juce::MidiInput> input;
    };

    class JuceMidiPorts final : public MidiPorts
    {
    public:
        juce::Array<juce::MidiDeviceInfo> getOutputDevices() override { return juce::MidiOutput::getAvailableDevices(); }
        juce::Array<juce::MidiDeviceInfo> getInputDevices() override  { return juce::MidiInput::getAvailableDevices(); }

        std::unique_ptr<MidiOutputPort> openOutput (int index) override
        {
            const auto devices = getOutputDevices();

            if (! juce::isPositiveAndBelow (index, devices.size()))
                return {};

            if (auto output = juce::MidiOutput::openDevice (devices.getReference (index).identifier))
                return std::make_unique<JuceOutputPort> (std::move (output));

            return {};
        }

        std::unique_ptr<MidiInputPort> openInput (int index, MidiPortCallback* callback) override
        {
            const auto devices = getInputDevices();

            if (callback == nullptr || ! juce::isPositiveAndBelow (index, devices.size()))
                return {};

            auto port = std::make_unique<JuceInputPort> (*callback);

            if (! port->open (devices.getReference (index).identifier))
                return {};

            return port;
        }
    };

    struct Installation
    {
        std::mutex lock;
        std::unique_ptr<MidiPorts> installed;
        std::atomic<MidiPorts*> current { nullptr };
    };

    Installation& getInstallation()
    {
        static Installation installation;
        return installation;
    }

    MidiPorts& getJuceBackend()
    {
        static JuceMidiPorts backend;
        return backend;
    }
}

MidiPorts& MidiPorts::get()
{
    if (auto* ports = getInstallation().current.load())
        return *ports;

    return getJuceBackend();
}

void MidiPorts::install (std::unique_ptr<MidiPorts> ports)
{
    auto& installation = getInstallation();
    std::unique_ptr<MidiPorts> previous;

    {
        const std::lock_guard<std::mutex> guard (installation.lock);
        installation.current = ports.get();
        previous = std::exchange (installation.installed, std::move (ports));
    }
}
