#include "tests/support/VirtualMidiDevice.h"

#include <stdexcept>

namespace
{
    const juce::String outputId = "virtual-out-device", inputId = "virtual-in-device";
    using State = VirtualMidiDevice::State;

    struct OutputPort final : public MidiOutputPort
    {
        OutputPort (std::shared_ptr<State> s, juce::MidiDeviceInfo i) : state (s), info (i)    { state->locked ([] (State& st) { ++st.openOutputs; }); }
        ~OutputPort() override                                      { state->locked ([] (State& s) { --s.openOutputs; }); }
        juce::String getName() const override                       { return info.name; }
        void sendMessageNow (const juce::MidiMessage& m) override   { if (info.identifier == outputId) state->write (m); }
        void stopBackgroundThread() override                        {}

        std::shared_ptr<State> state;
        juce::MidiDeviceInfo info;
    };

    struct InputPort final : public MidiInputPort
    {
        InputPort (std::shared_ptr<State> s, juce::MidiDeviceInfo i, MidiPortCallback* callback)
            : state (s), info (i), input (std::make_shared<State::Input> (i.identifier == inputId, callback))
        {
            state->locked ([this] (State& st) { st.inputs.push_back (input); });
        }

        ~InputPort() override
        {
            stop();
            state->locked ([this] (State& s) { s.inputs.erase (std::find (s.inputs.begin(), s.inputs.end(), input)); });
        }

        juce::String getIdentifier() const override     { return info.identifier; }
        juce::String getName() const override           { return info.name; }
        void start() override                           { const std::lock_guard<std::recursive_mutex> g (state->deliveryLock); input->started = true; }
        void stop() override                            { const std::lock_guard<std::recursive_mutex> g (state->deliveryLock); input->started = false; }

        std::shared_ptr<State> state;
        juce::MidiDeviceInfo info;
        std::shared_ptr<State::Input> input;
    };

    struct Ports final : public MidiPorts
    {
        explicit Ports (std::shared_ptr<State> s) : state (s) {}

        juce::Array<juce::MidiDeviceInfo> getOutputDevices() override  { return state->locked ([] (State& s) { return s.list (true); }); }
        juce::Array<juce::MidiDeviceInfo> getInputDevices() override   { return state->locked ([] (State& s) { return s.list (false); }); }

        std::unique_ptr<MidiOutputPort> openOutput (int index) override
        {
            const auto info = state->locked ([=] (State& s) { return s.list (true)[index]; });
            return info.identifier.isEmpty() ? nullptr : std::make_unique<OutputPort> (state, info);
        }

        std::unique_ptr<MidiInputPort> openInput (int index, MidiPortCallback* callback) override
        {
            const auto info = state->locked ([=] (State& s) { return s.list (false)[index]; });
            return info.identifier.isEmpty() || callback == nullptr ? nullptr : std::make_unique<InputPort> (state, info, callback);
        }

        std::shared_ptr<State> state;
    };
}

//==============================================================================
juce::Array<juce::MidiDeviceInfo> State::list (bool outputs)     // under lock
{
    juce::Array<juce::MidiDeviceInfo> ports;

    for (auto& name : outputs ? otherOutputs : otherInputs)
        ports.add ({ name, "other-" + name });

    if (plugged)
        ports.add ({ outputs ? outputName : inputName, outputs ? outputId : inputId });

    return ports;
}

void State::write (const juce::MidiMessage& message)
{
    std::unique_lock<std::mutex> guard (lock);

    if (throwOnWrite)
        throw std::runtime_error ("virtual MIDI write failed");

    ++blockedWrites;
    changed.notify_all();
    changed.wait (guard, [this] { return ! writeBlocked; });
    --blockedWrites;

    if (! plugged)
        return;

    written.push_back ({ message, juce::Time::getMillisecondCounterHiRes() });
    changed.notify_all();
    const auto hook = onWritten;
    guard.unlock();

    if (hook)
        hook (message);
}

void State::deliverAll()
{
    std::unique_lock<std::mutex> guard (lock);

    while (changed.wait (guard, [this] { return shuttingDown || ! queue.empty(); }), ! shuttingDown)
    {
        const auto message = queue.front();
        const auto targets = plugged ? inputs : std::vector<std::shared_ptr<Input>>();
        queue.pop_front();
        delivering = true;
        guard.unlock();

        {
            const std::lock_guard<std::recursive_mutex> delivery (deliveryLock);

            for (auto& input : targets)
                if (input->isDevice && input->started)
                    input->callback->handleIncomingMidiMessage (inputId, message);
        }

        guard.lock();
        delivering = false;
        changed.notify_all();
    }
}

//==============================================================================
VirtualMidiDevice::VirtualMidiDevice (const juce::String& outputName, const juce::String& inputName)
{
    state->outputName = outputName;
    state->inputName = inputName;
    inputThread = std::thread ([s = state.get()] { s->deliverAll(); });
}

VirtualMidiDevice::~VirtualMidiDevice()
{
    state->locked ([] (State& s) { s.shuttingDown = true; s.writeBlocked = false; s.changed.notify_all(); });
    inputThread.join();
}

int VirtualMidiDevice::getNumStartedInputs() const
{
    return state->locked ([] (State& s) { return (int) std::count_if (s.inputs.begin(), s.inputs.end(), [] (auto& i) { return i->started.load(); }); });
}

juce::String VirtualMidiDevice::getOutputIdentifier() const             { return outputId; }
juce::String VirtualMidiDevice::getInputIdentifier() const              { return inputId; }
std::unique_ptr<MidiPorts> VirtualMidiDevice::createPorts() const       { return std::make_unique<Ports> (state); }
