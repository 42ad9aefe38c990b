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
        Input (bool device, MidiPortCallback* c) : isDevice (device), callback (c) {}
        const bool isDevice;
        MidiPortCallback* const callback;
        std::atomic<bool> started { false };    // changed under deliveryLock
    };

    template <typename Function>
    auto locked (Function&& function)   { const std::lock_guard<std::mutex> guard (lock); return function (*this); }

    template <typename Condition>
    bool waitFor (int timeoutMs, Condition&& condition)
    {
        std::unique_lock<std::mutex> guard (lock);
        return changed.wait_for (guard, std::chrono::milliseconds (timeoutMs), [&] { return condition (*this); });
    }

    juce::Array<juce::MidiDeviceInfo> list (bool outputs)     // under lock
    {
        juce::Array<juce::MidiDeviceInfo> ports;

        for (auto& name : outputs ? otherOutputs : otherInputs)
            ports.add ({ name, "other-" + name });

        if (plugged)
            ports.add ({ outputs ? outputName : inputName, outputs ? outputId : inputId });

        return ports;
    }

    /** The port at the index, or an empty one if there is none or the device refuses to open it. */
    juce::MidiDeviceInfo find (bool output, int index)
    {
        return locked ([=] (State& s)
        {
            const auto info = s.list (output)[index];
            return info.identifier == (output ? outputId : inputId) && (output ? s.refuseOutput : s.refuseInput) ? juce::MidiDeviceInfo() : info;
        });
    }

    void write (const juce::MidiMessage& message)
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

    // A delivery holds deliveryLock, which start() and stop() take too; it is recursive so that
    // a delivery may stop its own input, and never taken while lock is held.
    void deliverAll()
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

    std::recursive_mutex deliveryLock;
    std::mutex lock;
    std::condition_variable changed;
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

    struct OutputPort final : public MidiOutputPort
    {
        OutputPort (std::shared_ptr<State> s, juce::MidiDeviceInfo i) : state (s), info (i)    { state->locked ([] (State& st) { ++st.openOutputs; }); }
        ~OutputPort() override                                      { state->locked ([] (State& s) { --s.openOutputs; }); }
        juce::String getName() const override                       { return info.name; }
        void sendMessageNow (const juce::MidiMessage& m) override   { if (info.identifier == outputId) state->write (m); }
        void stopBackgroundThread() override                        { state->locked ([] (State& s) { ++s.stopCalls; }); }

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
            const auto info = state->find (true, index);
            return info.identifier.isEmpty() ? nullptr : std::make_unique<OutputPort> (state, info);
        }

        std::unique_ptr<MidiInputPort> openInput (int index, MidiPortCallback* callback) override
        {
            const auto info = state->find (false, index);
            return info.identifier.isEmpty() || callback == nullptr ? nullptr : std::make_unique<InputPort> (state, info, callback);
        }

        std::shared_ptr<State> state;
    };
}

//==============================================================================
VirtualMidiDevice::VirtualMidiDevice (const juce::String& outputName, const juce::String& inputName)
    : state (std::make_shared<State>())
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

using Hook = std::function<void (const juce::MidiMessage&)>;

void VirtualMidiDevice::setOtherPorts (const juce::StringArray& outs, const juce::StringArray& ins)  { state->locked ([&] (State& s) { s.otherOutputs = outs; s.otherInputs = ins; }); }
void VirtualMidiDevice::plug()                              { state->locked ([] (State& s) { s.plugged = true; }); }
void VirtualMidiDevice::unplug()                            { state->locked ([] (State& s) { s.plugged = false; }); }
void VirtualMidiDevice::setRefuseOpen (bool out, bool in)   { state->locked ([=] (State& s) { s.refuseOutput = out; s.refuseInput = in; }); }
void VirtualMidiDevice::setThrowOnWrite (bool b)            { state->locked ([b] (State& s) { s.throwOnWrite = b; }); }
void VirtualMidiDevice::setWriteBlocked (bool b)            { state->locked ([b] (State& s) { s.writeBlocked = b; s.changed.notify_all(); }); }
void VirtualMidiDevice::setOnMessageWritten (Hook hook)     { state->locked ([&hook] (State& s) { s.onWritten = std::move (hook); }); }
void VirtualMidiDevice::clearWritten()                      { state->locked ([] (State& s) { s.written.clear(); }); }
void VirtualMidiDevice::sendToHost (const juce::MidiMessage& m)     { state->locked ([&m] (State& s) { s.queue.push_back (m); s.changed.notify_all(); }); }

std::vector<VirtualMidiDevice::WrittenMessage> VirtualMidiDevice::getWrittenMessages() const    { return state->locked ([] (State& s) { return s.written; }); }
int VirtualMidiDevice::getNumWritten() const                { return state->locked ([] (State& s) { return (int) s.written.size(); }); }
int VirtualMidiDevice::getNumBlockedWrites() const          { return state->locked ([] (State& s) { return s.blockedWrites; }); }
int VirtualMidiDevice::getNumOpenInputs() const             { return state->locked ([] (State& s) { return (int) s.inputs.size(); }); }
int VirtualMidiDevice::getNumOpenOutputs() const            { return state->locked ([] (State& s) { return s.openOutputs; }); }
int VirtualMidiDevice::getNumStopBackgroundThreadCalls() const  { return state->locked ([] (State& s) { return s.stopCalls; }); }
juce::String VirtualMidiDevice::getOutputIdentifier() const { return outputId; }
juce::String VirtualMidiDevice::getInputIdentifier() const  { return inputId; }
std::unique_ptr<MidiPorts> VirtualMidiDevice::createPorts() const  { return std::make_unique<Ports> (state); }

int VirtualMidiDevice::getNumStartedInputs() const
{
    return state->locked ([] (State& s) { return (int) std::count_if (s.inputs.begin(), s.inputs.end(), [] (auto& i) { return i->started.load(); }); });
}

bool VirtualMidiDevice::waitForWritten (int count, int ms) const    { return state->waitFor (ms, [count] (State& s) { return (int) s.written.size() >= count; }); }
bool VirtualMidiDevice::waitUntilDelivered (int ms) const           { return state->waitFor (ms, [] (State& s) { return s.queue.empty() && ! s.delivering; }); }
