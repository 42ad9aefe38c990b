#include "tests/support/VirtualMidiDevice.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>

namespace
{
    const juce::String outputId = "virtual-out-device", inputId = "virtual-in-device";
}

struct VirtualMidiDevice::State
{
    struct Input
    {
        juce::String identifier;
        MidiPortCallback* callback = nullptr;
        std::atomic<bool> started { false };    // written under deliveryLock
    };

    juce::Array<juce::MidiDeviceInfo> list (bool outputs) const
    {
        juce::Array<juce::MidiDeviceInfo> result;
        const auto& others = outputs ? otherOutputs : otherInputs;

        for (int i = 0; i < others.size(); ++i)
            result.add ({ others[i], juce::String (outputs ? "virtual-out-before-" : "virtual-in-before-") + juce::String (i) });

        if (plugged)
            result.add (outputs ? juce::MidiDeviceInfo { outputName, outputId } : juce::MidiDeviceInfo { inputName, inputId });

        return result;
    }

    // Deliveries hold deliveryLock (recursive, so a delivery may stop its own input); it is
    // taken before lock, never after.
    std::recursive_mutex deliveryLock;
    mutable std::mutex lock;
    mutable std::condition_variable changed;

    juce::String outputName, inputName;
    juce::StringArray otherOutputs, otherInputs;
    bool plugged = true, refuseOutput = false, refuseInput = false, throwOnWrite = false, writeBlocked = false;
    bool delivering = false, shuttingDown = false;
    int blockedWrites = 0, openOutputs = 0, stopCalls = 0;
    std::vector<WrittenMessage> written;
    std::function<void (const juce::MidiMessage&)> onWritten;
    std::deque<juce::MidiMessage> queue;
    std::vector<std::shared_ptr<Input>> inputs;
};

namespace
{
    using State = VirtualMidiDevice::State;
    using Guard = std::lock_guard<std::mutex>;

    struct OutputPort final : public MidiOutputPort
    {
        OutputPort (std::shared_ptr<State> s, const juce::MidiDeviceInfo& info)
            : state (std::move (s)), name (info.name), isDevice (info.identifier == outputId) {}

        ~OutputPort() override                      { const Guard g (state->lock); --state->openOutputs; }
        juce::String getName() const override       { return name; }
        void stopBackgroundThread() override        { const Guard g (state->lock); ++state->stopCalls; }

        void sendMessageNow (const juce::MidiMessage& message) override
        {
            std::function<void (const juce::MidiMessage&)> hook;

            {
                std::unique_lock<std::mutex> g (state->lock);

                if (! isDevice)
                    return;

                if (state->throwOnWrite)
                    throw std::runtime_error ("virtual MIDI write failed");

                ++state->blockedWrites;
                state->changed.notify_all();
                state->changed.wait (g, [this] { return ! state->writeBlocked; });
                --state->blockedWrites;

                if (! state->plugged)
                    return;

                state->written.push_back ({ message, juce::Time::getMillisecondCounterHiRes() });
                hook = state->onWritten;
                state->changed.notify_all();
            }

            if (hook)
                hook (message);
        }

        std::shared_ptr<State> state;
        juce::String name;
        bool isDevice;
    };

    struct InputPort final : public MidiInputPort
    {
        InputPort (std::shared_ptr<State> s, const juce::MidiDeviceInfo& info, MidiPortCallback* callback)
            : state (std::move (s)), name (info.name), input (std::make_shared<State::Input>())
        {
            input->identifier = info.identifier;
            input->callback = callback;
            const Guard g (state->lock);
            state->inputs.push_back (input);
        }

        ~InputPort() override
        {
            stop();
            const Guard g (state->lock);
            state->inputs.erase (std::find (state->inputs.begin(), state->inputs.end(), input));
        }

        juce::String getIdentifier() const override     { return input->identifier; }
        juce::String getName() const override           { return name; }
        void start() override                           { const std::lock_guard<std::recursive_mutex> g (state->deliveryLock); input->started = true; }
        void stop() override                            { const std::lock_guard<std::recursive_mutex> g (state->deliveryLock); input->started = false; }

        std::shared_ptr<State> state;
        juce::String name;
        std::shared_ptr<State::Input> input;
    };

    struct Ports final : public MidiPorts
    {
        explicit Ports (std::shared_ptr<State> s) : state (std::move (s)) {}

        juce::Array<juce::MidiDeviceInfo> getOutputDevices() override  { const Guard g (state->lock); return state->list (true); }
        juce::Array<juce::MidiDeviceInfo> getInputDevices() override   { const Guard g (state->lock); return state->list (false); }

        std::unique_ptr<MidiOutputPort> openOutput (int index) override
        {
            const Guard g (state->lock);
            const auto info = state->list (true)[index];

            if (info.identifier.isEmpty() || (info.identifier == outputId && state->refuseOutput))
                return {};

            ++state->openOutputs;
            return std::make_unique<OutputPort> (state, info);
        }

        std::unique_ptr<MidiInputPort> openInput (int index, MidiPortCallback* callback) override
        {
            juce::MidiDeviceInfo info;

            {
                const Guard g (state->lock);
                info = state->list (false)[index];

                if (callback == nullptr || info.identifier.isEmpty() || (info.identifier == inputId && state->refuseInput))
                    return {};
            }

            return std::make_unique<InputPort> (state, info, callback);
        }

        std::shared_ptr<State> state;
    };

    void runInputThread (State& state)
    {
        for (;;)
        {
            juce::MidiMessage message;

            {
                std::unique_lock<std::mutex> g (state.lock);
                state.changed.wait (g, [&state] { return state.shuttingDown || ! state.queue.empty(); });

                if (state.shuttingDown)
                    return;

                message = state.queue.front();
                state.queue.pop_front();
                state.delivering = true;
            }

            {
                const std::lock_guard<std::recursive_mutex> delivery (state.deliveryLock);
                std::vector<std::shared_ptr<State::Input>> targets;

                {
                    const Guard g (state.lock);

                    for (auto& input : state.inputs)
                        if (state.plugged && input->identifier == inputId)
                            targets.push_back (input);
                }

                for (auto& target : targets)
                    if (target->started)
                        target->callback->handleIncomingMidiMessage (target->identifier, message);
            }

            const Guard g (state.lock);
            state.delivering = false;
            state.changed.notify_all();
        }
    }
}

//==============================================================================
VirtualMidiDevice::VirtualMidiDevice (const juce::String& outputName, const juce::String& inputName)
    : state (std::make_shared<State>())
{
    state->outputName = outputName;
    state->inputName = inputName;
    inputThread = std::thread ([s = state.get()] { runInputThread (*s); });
}

VirtualMidiDevice::~VirtualMidiDevice()
{
    locked<void> ([] (State& s) { s.shuttingDown = true; s.writeBlocked = false; s.changed.notify_all(); });
    inputThread.join();
}

template <typename Result>
Result VirtualMidiDevice::locked (std::function<Result (State&)> function) const
{
    const Guard g (state->lock);
    return function (*state);
}

void VirtualMidiDevice::setOtherPorts (const juce::StringArray& outputs, const juce::StringArray& inputs)
{
    locked<void> ([&] (State& s) { s.otherOutputs = outputs; s.otherInputs = inputs; });
}

void VirtualMidiDevice::plug()                              { locked<void> ([] (State& s) { s.plugged = true; }); }
void VirtualMidiDevice::unplug()                            { locked<void> ([] (State& s) { s.plugged = false; }); }
void VirtualMidiDevice::setRefuseOpen (bool out, bool in)   { locked<void> ([=] (State& s) { s.refuseOutput = out; s.refuseInput = in; }); }
void VirtualMidiDevice::setThrowOnWrite (bool b)            { locked<void> ([b] (State& s) { s.throwOnWrite = b; }); }
void VirtualMidiDevice::setWriteBlocked (bool b)            { locked<void> ([b] (State& s) { s.writeBlocked = b; s.changed.notify_all(); }); }
int VirtualMidiDevice::getNumBlockedWrites() const          { return locked<int> ([] (State& s) { return s.blockedWrites; }); }
int VirtualMidiDevice::getNumWritten() const                { return locked<int> ([] (State& s) { return (int) s.written.size(); }); }
void VirtualMidiDevice::clearWritten()                      { locked<void> ([] (State& s) { s.written.clear(); }); }
int VirtualMidiDevice::getNumOpenInputs() const             { return locked<int> ([] (State& s) { return (int) s.inputs.size(); }); }
int VirtualMidiDevice::getNumOpenOutputs() const            { return locked<int> ([] (State& s) { return s.openOutputs; }); }
int VirtualMidiDevice::getNumStopBackgroundThreadCalls() const  { return locked<int> ([] (State& s) { return s.stopCalls; }); }
juce::String VirtualMidiDevice::getOutputIdentifier() const { return outputId; }
juce::String VirtualMidiDevice::getInputIdentifier() const  { return inputId; }

std::vector<VirtualMidiDevice::WrittenMessage> VirtualMidiDevice::getWrittenMessages() const
{
    return locked<std::vector<WrittenMessage>> ([] (State& s) { return s.written; });
}

void VirtualMidiDevice::setOnMessageWritten (std::function<void (const juce::MidiMessage&)> hook)
{
    locked<void> ([&hook] (State& s) { s.onWritten = std::move (hook); });
}

void VirtualMidiDevice::sendToHost (const juce::MidiMessage& message)
{
    locked<void> ([&message] (State& s) { s.queue.push_back (message); s.changed.notify_all(); });
}

int VirtualMidiDevice::getNumStartedInputs() const
{
    return locked<int> ([] (State& s) { return (int) std::count_if (s.inputs.begin(), s.inputs.end(), [] (auto& i) { return i->started.load(); }); });
}

bool VirtualMidiDevice::waitForWritten (int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> g (state->lock);
    return state->changed.wait_for (g, std::chrono::milliseconds (timeoutMs), [&] { return (int) state->written.size() >= count; });
}

bool VirtualMidiDevice::waitUntilDelivered (int timeoutMs) const
{
    std::unique_lock<std::mutex> g (state->lock);
    return state->changed.wait_for (g, std::chrono::milliseconds (timeoutMs), [&] { return state->queue.empty() && ! state->delivering; });
}

std::unique_ptr<MidiPorts> VirtualMidiDevice::createPorts() const
{
    return std::make_unique<Ports> (state);
}
