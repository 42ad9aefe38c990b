#include "tests/support/VirtualMidiDevice.h"

#include <atomic>
#include <stdexcept>

using State = VirtualMidiDevice::State;

namespace
{
    const juce::String outputId = "virtual-out-device", inputId = "virtual-in-device";

    /** The device's port at the index while it is plugged in, or none (an empty identifier). */
    juce::MidiDeviceInfo portAt (State& state, bool output, int index)
    {
        return state.locked ([=] (State& s) { return s.plugged && (output ? s.outputListed : s.inputListed) && index == 0 ? juce::MidiDeviceInfo { output ? s.outputName : s.inputName, output ? outputId : inputId }
                                                                             : juce::MidiDeviceInfo(); });
    }

    using DeliveryLock = std::lock_guard<std::recursive_mutex>;

    struct OutputPort final : public MidiOutputPort
    {
        explicit OutputPort (std::shared_ptr<State> s) : state (s)  { state->locked ([] (State& st) { ++st.openOutputs; }); }
        ~OutputPort() override
        {
            state->locked ([] (State& s) { ++s.outputDestructionsBegun; s.changed.notify_all(); });
            const DeliveryLock g (state->deliveryLock);
            state->locked ([] (State& s) { --s.openOutputs; });
        }

        juce::String getName() const override                       { return state->outputName; }
        void sendMessageNow (const juce::MidiMessage& m) override   { state->write (m); }
        void stopBackgroundThread() override                        {}

        std::shared_ptr<State> state;
    };
}

struct VirtualMidiDevice::Input final : public MidiInputPort
{
    Input (std::shared_ptr<State> s, MidiPortCallback* c) : state (s), callback (c)     { state->locked ([this] (State& st) { st.inputs.push_back (this); }); }

    // Leaves the list under the delivery lock, so that no delivery can still reach it.
    ~Input() override   { const DeliveryLock g (state->deliveryLock); state->locked ([this] (State& s) { s.inputs.erase (std::find (s.inputs.begin(), s.inputs.end(), this)); }); }

    juce::String getIdentifier() const override     { return inputId; }
    juce::String getName() const override           { return state->inputName; }
    void stop() override                            { started = false; }

    // With a greeting, the device answers so fast that it is delivered before start() returns.
    void start() override
    {
        started = true;

        if (state->locked ([] (State& s) { if (s.greeting) s.queue.push_front (*s.greeting), s.changed.notify_all(); return s.greeting.has_value(); }))
            state->waitFor (1000, [] (State& s) { return s.queue.empty() && ! s.delivering; });
    }

    std::shared_ptr<State> state;
    MidiPortCallback* const callback;
    std::atomic<bool> started { false };
};

namespace
{
    struct Ports final : public MidiPorts
    {
        explicit Ports (std::shared_ptr<State> s) : state (s) {}

        juce::Array<juce::MidiDeviceInfo> getOutputDevices() override  { return list (true); }
        juce::Array<juce::MidiDeviceInfo> getInputDevices() override   { return list (false); }
        juce::Array<juce::MidiDeviceInfo> list (bool outputs)           { return isListed (outputs, 0) ? juce::Array<juce::MidiDeviceInfo> { portAt (*state, outputs, 0) } : juce::Array<juce::MidiDeviceInfo>(); }
        bool isListed (bool output, int index)                            { return portAt (*state, output, index).identifier.isNotEmpty(); }

        std::unique_ptr<MidiOutputPort> openOutput (int index) override
        {
            const DeliveryLock g (state->deliveryLock);
            return isListed (true, index) && ! state->locked ([] (State& st) { return st.refuseOutput; }) ? std::make_unique<OutputPort> (state) : nullptr;
        }

        std::unique_ptr<MidiInputPort> openInput (int index, MidiPortCallback* callback) override
        {
            const DeliveryLock g (state->deliveryLock);
            return isListed (false, index) && callback != nullptr && ! state->locked ([] (State& st) { return st.refuseInput; }) ? std::make_unique<VirtualMidiDevice::Input> (state, callback) : nullptr;
        }

        std::shared_ptr<State> state;
    };
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
    const auto after = afterWritten;
    guard.unlock();

    if (hook)
        hook (message);

    if (after)
        after();
}

void State::deliverAll()
{
    std::unique_lock<std::mutex> guard (lock);

    while (changed.wait (guard, [this] { return shuttingDown || ! queue.empty(); }), ! shuttingDown)
    {
        const auto message = queue.front();
        queue.pop_front();
        delivering = true;
        changed.notify_all();
        guard.unlock();

        {
            // No input is deleted while this is held, except by a delivery on this thread: each is looked up afresh.
            const DeliveryLock delivery (deliveryLock);

            for (auto* input : locked ([] (State& s) { return s.plugged ? s.inputs : std::vector<Input*>(); }))
                if (locked ([input] (State& s) { return std::find (s.inputs.begin(), s.inputs.end(), input) != s.inputs.end(); }) && input->started)
                {
                    if (const auto hook = locked ([] (State& s) { return s.beforeCallback; }))
                        hook();

                    input->callback->handleIncomingMidiMessage (inputId, message);
                }
        }

        guard.lock();
        delivering = false;
        changed.notify_all();
    }
}

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
    return state->locked ([] (State& s) { return (int) std::count_if (s.inputs.begin(), s.inputs.end(), [] (auto* i) { return i->started.load(); }); });
}

juce::String VirtualMidiDevice::getOutputIdentifier() const             { return outputId; }
juce::String VirtualMidiDevice::getInputIdentifier() const              { return inputId; }
std::unique_ptr<MidiPorts> VirtualMidiDevice::createPorts() const       { return std::make_unique<Ports> (state); }
