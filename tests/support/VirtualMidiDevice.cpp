#include "tests/support/VirtualMidiDevice.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <stdexcept>

namespace
{
    const juce::String deviceOutputId = "virtual-out-device";
    const juce::String deviceInputId = "virtual-in-device";

    juce::Array<juce::MidiDeviceInfo> makeList (const juce::StringArray& others, const juce::String& deviceName,
                                                const juce::String& deviceId, bool plugged, const juce::String& prefix)
    {
        juce::Array<juce::MidiDeviceInfo> list;

        for (int i = 0; i < others.size(); ++i)
            list.add ({ others[i], prefix + "-before-" + juce::String (i) });

        if (plugged)
            list.add ({ deviceName, deviceId });

        return list;
    }
}

//==============================================================================
struct VirtualMidiDevice::State
{
    struct InputRegistration
    {
        juce::String identifier;
        MidiPortCallback* callback = nullptr;
        std::atomic<bool> started { false };    // written under callbackLock
    };

    juce::Array<juce::MidiDeviceInfo> outputDevices() const
    {
        return makeList (otherOutputs, outputName, deviceOutputId, plugged, "virtual-out");
    }

    juce::Array<juce::MidiDeviceInfo> inputDevices() const
    {
        return makeList (otherInputs, inputName, deviceInputId, plugged, "virtual-in");
    }

    // Lock order: callbackLock before lock, never the other way round.
    std::recursive_mutex callbackLock;

    mutable std::mutex lock;
    mutable std::condition_variable changed;

    juce::String outputName, inputName;
    juce::StringArray otherOutputs, otherInputs;
    bool plugged = true;
    bool refuseOutput = false;
    bool refuseInput = false;
    bool throwOnWrite = false;
    bool writeBlocked = false;
    int blockedWrites = 0;

    std::vector<WrittenMessage> written;
    std::function<void (const juce::MidiMessage&)> onWritten;

    std::deque<juce::MidiMessage> queue;
    bool delivering = false;
    bool shuttingDown = false;

    std::vector<std::shared_ptr<InputRegistration>> inputs;
    int openOutputs = 0;
    std::atomic<int> stopBackgroundThreadCalls { 0 };
};

namespace
{
    using State = VirtualMidiDevice::State;

    class VirtualOutputPort final : public MidiOutputPort
    {
    public:
        VirtualOutputPort (std::shared_ptr<State> s, const juce::String& portName, bool isTheDevice)
            : state (std::move (s)), name (portName), isDevice (isTheDevice)
        {
        }

        ~VirtualOutputPort() override
        {
            const std::lock_guard<std::mutex> guard (state->lock);
            --state->openOutputs;
        }

        juce::String getName() const override   { return name; }

        void sendMessageNow (const juce::MidiMessage& message) override
        {
            std::function<void (const juce::MidiMessage&)> hook;

            {
                std::unique_lock<std::mutex> guard (state->lock);

                if (! isDevice)
                    return;

                if (state->throwOnWrite)
                    throw std::runtime_error ("virtual MIDI write failed");

                if (state->writeBlocked)
                {
                    ++state->blockedWrites;
                    state->changed.notify_all();
                    state->changed.wait (guard, [this] { return ! state->writeBlocked; });
                    --state->blockedWrites;
                }

                if (! state->plugged)
                    return;

                state->written.push_back ({ message, juce::Time::getMillisecondCounterHiRes() });
                hook = state->onWritten;
                state->changed.notify_all();
            }

            if (hook)
                hook (message);
        }

        void stopBackgroundThread() override
        {
            ++state->stopBackgroundThreadCalls;
        }

    private:
        std::shared_ptr<State> state;
        juce::String name;
        bool isDevice;
    };

    class VirtualInputPort final : public MidiInputPort
    {
    public:
        VirtualInputPort (std::shared_ptr<State> s, const juce::MidiDeviceInfo& info, MidiPortCallback* callback)
            : state (std::move (s)), name (info.name),
              registration (std::make_shared<State::InputRegistration>())
        {
            registration->identifier = info.identifier;
            registration->callback = callback;

            const std::lock_guard<std::mutex> guard (state->lock);
            state->inputs.push_back (registration);
        }

        ~VirtualInputPort() override
        {
            stop();

            const std::lock_guard<std::mutex> guard (state->lock);
            auto& inputs = state->inputs;
            inputs.erase (std::find (inputs.begin(), inputs.end(), registration));
        }

        juce::String getIdentifier() const override     { return registration->identifier; }
        juce::String getName() const override           { return name; }

        void start() override
        {
            const std::lock_guard<std::recursive_mutex> guard (state->callbackLock);
            registration->started = true;
        }

        // Deliveries run under callbackLock and test the flag under it; the lock is
        // recursive, so a delivery may stop its own port.
        void stop() override
        {
            const std::lock_guard<std::recursive_mutex> guard (state->callbackLock);
            registration->started = false;
        }

    private:
        std::shared_ptr<State> state;
        juce::String name;
        std::shared_ptr<State::InputRegistration> registration;
    };

    class VirtualPorts final : public MidiPorts
    {
    public:
        explicit VirtualPorts (std::shared_ptr<State> s) : state (std::move (s)) {}

        juce::Array<juce::MidiDeviceInfo> getOutputDevices() override
        {
            const std::lock_guard<std::mutex> guard (state->lock);
            return state->outputDevices();
        }

        juce::Array<juce::MidiDeviceInfo> getInputDevices() override
        {
            const std::lock_guard<std::mutex> guard (state->lock);
            return state->inputDevices();
        }

        std::unique_ptr<MidiOutputPort> openOutput (int index) override
        {
            const std::lock_guard<std::mutex> guard (state->lock);
            const auto devices = state->outputDevices();

            if (! juce::isPositiveAndBelow (index, devices.size()))
                return {};

            const auto& info = devices.getReference (index);
            const auto isDevice = info.identifier == deviceOutputId;

            if (isDevice && state->refuseOutput)
                return {};

            ++state->openOutputs;
            return std::make_unique<VirtualOutputPort> (state, info.name, isDevice);
        }

        std::unique_ptr<MidiInputPort> openInput (int index, MidiPortCallback* callback) override
        {
            juce::MidiDeviceInfo info;

            {
                const std::lock_guard<std::mutex> guard (state->lock);
                const auto devices = state->inputDevices();

                if (callback == nullptr || ! juce::isPositiveAndBelow (index, devices.size()))
                    return {};

                info = devices[index];

                if (info.identifier == deviceInputId && state->refuseInput)
                    return {};
            }

            return std::make_unique<VirtualInputPort> (state, info, callback);
        }

    private:
        std::shared_ptr<State> state;
    };

    void runInputThread (State& state)
    {
        for (;;)
        {
            juce::MidiMessage message;

            {
                std::unique_lock<std::mutex> guard (state.lock);
                state.changed.wait (guard, [&state] { return state.shuttingDown || ! state.queue.empty(); });

                if (state.shuttingDown)
                    return;

                message = state.queue.front();
                state.queue.pop_front();
                state.delivering = true;
            }

            {
                const std::lock_guard<std::recursive_mutex> callbackGuard (state.callbackLock);
                std::vector<std::shared_ptr<State::InputRegistration>> targets;

                {
                    const std::lock_guard<std::mutex> guard (state.lock);

                    if (state.plugged)
                        for (auto& input : state.inputs)
                            if (input->identifier == deviceInputId)
                                targets.push_back (input);
                }

                for (auto& target : targets)
                    if (target->started)
                        target->callback->handleIncomingMidiMessage (target->identifier, message);
            }

            const std::lock_guard<std::mutex> guard (state.lock);
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
    {
        const std::lock_guard<std::mutex> guard (state->lock);
        state->shuttingDown = true;
        state->writeBlocked = false;
        state->changed.notify_all();
    }

    inputThread.join();
}

template <typename Function>
auto VirtualMidiDevice::locked (Function&& function) const
{
    const std::lock_guard<std::mutex> guard (state->lock);
    return function (*state);
}

template <typename Condition>
bool VirtualMidiDevice::waitFor (int timeoutMs, Condition&& condition) const
{
    std::unique_lock<std::mutex> guard (state->lock);
    return state->changed.wait_for (guard, std::chrono::milliseconds (timeoutMs),
                                    [this, &condition] { return condition (*state); });
}

void VirtualMidiDevice::setOtherOutputs (const juce::StringArray& names)  { locked ([&] (State& s) { s.otherOutputs = names; }); }
void VirtualMidiDevice::setOtherInputs (const juce::StringArray& names)   { locked ([&] (State& s) { s.otherInputs = names; }); }
void VirtualMidiDevice::plug()                          { locked ([] (State& s) { s.plugged = true; }); }
void VirtualMidiDevice::unplug()                        { locked ([] (State& s) { s.plugged = false; }); }
void VirtualMidiDevice::setRefuseOutputOpen (bool b)    { locked ([b] (State& s) { s.refuseOutput = b; }); }
void VirtualMidiDevice::setRefuseInputOpen (bool b)     { locked ([b] (State& s) { s.refuseInput = b; }); }
void VirtualMidiDevice::setThrowOnWrite (bool b)        { locked ([b] (State& s) { s.throwOnWrite = b; }); }

void VirtualMidiDevice::setWriteBlocked (bool shouldBlock)
{
    locked ([shouldBlock] (State& s) { s.writeBlocked = shouldBlock; s.changed.notify_all(); });
}

int VirtualMidiDevice::getNumBlockedWrites() const      { return locked ([] (State& s) { return s.blockedWrites; }); }
int VirtualMidiDevice::getNumWritten() const            { return locked ([] (State& s) { return (int) s.written.size(); }); }
void VirtualMidiDevice::clearWritten()                  { locked ([] (State& s) { s.written.clear(); }); }

std::vector<VirtualMidiDevice::WrittenMessage> VirtualMidiDevice::getWrittenMessages() const
{
    return locked ([] (State& s) { return s.written; });
}

bool VirtualMidiDevice::waitForWritten (int count, int timeoutMs) const
{
    return waitFor (timeoutMs, [count] (State& s) { return (int) s.written.size() >= count; });
}

void VirtualMidiDevice::setOnMessageWritten (std::function<void (const juce::MidiMessage&)> hook)
{
    locked ([&hook] (State& s) { s.onWritten = std::move (hook); });
}

void VirtualMidiDevice::sendToHost (const juce::MidiMessage& message)
{
    locked ([&message] (State& s) { s.queue.push_back (message); s.changed.notify_all(); });
}

bool VirtualMidiDevice::waitUntilDelivered (int timeoutMs) const
{
    return waitFor (timeoutMs, [] (State& s) { return s.queue.empty() && ! s.delivering; });
}

juce::String VirtualMidiDevice::getOutputIdentifier() const    { return deviceOutputId; }
juce::String VirtualMidiDevice::getInputIdentifier() const     { return deviceInputId; }

int VirtualMidiDevice::getNumOpenInputs() const         { return locked ([] (State& s) { return (int) s.inputs.size(); }); }
int VirtualMidiDevice::getNumOpenOutputs() const        { return locked ([] (State& s) { return s.openOutputs; }); }
int VirtualMidiDevice::getNumStopBackgroundThreadCalls() const  { return state->stopBackgroundThreadCalls; }

int VirtualMidiDevice::getNumStartedInputs() const
{
    return locked ([] (State& s)
    {
        return (int) std::count_if (s.inputs.begin(), s.inputs.end(), [] (const auto& input) { return input->started.load(); });
    });
}

std::unique_ptr<MidiPorts> VirtualMidiDevice::createPorts() const
{
    return std::make_unique<VirtualPorts> (state);
}

VirtualMidiDevice::ScopedInstall::ScopedInstall (const VirtualMidiDevice& device)
{
    MidiPorts::install (device.createPorts());
}

VirtualMidiDevice::ScopedInstall::~ScopedInstall()
{
    MidiPorts::install (nullptr);
}
