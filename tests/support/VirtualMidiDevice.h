#pragma once

#include "device/MidiPorts.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

/** A stand-in for a real device on the MIDI port layer: one output and one input with
    names chosen by the test, listed among other, unrelated ports.

    Install it with ScopedInstall, so that MidiPorts::get() is this device.
    Everything the system writes to the device's output is logged (with the time of the
    write) and handed to the written-message hook on the writing thread.
    sendToHost queues a message that the device's own input thread delivers, as a real MIDI
    input thread does, to every started input port of the device. An input's stop() returns
    only once no delivery to it runs and none follows, also when called from its delivery.

    The device can be unplugged (it leaves the device lists; writes and deliveries are lost),
    can refuse to open either port, can throw on a write and can hold writes until released.
    Ports may outlive the device object.
*/
class VirtualMidiDevice
{
public:
    explicit VirtualMidiDevice (const juce::String& outputName = "Norvo",
                                const juce::String& inputName = "Norvo");
    ~VirtualMidiDevice();

    /** Unrelated ports listed before the device's own. */
    void setOtherOutputs (const juce::StringArray& names);
    void setOtherInputs (const juce::StringArray& names);

    void plug();
    void unplug();

    void setRefuseOutputOpen (bool shouldRefuse);
    void setRefuseInputOpen (bool shouldRefuse);
    void setThrowOnWrite (bool shouldThrow);

    /** While blocked, every write waits (without being logged) until released. */
    void setWriteBlocked (bool shouldBlock);
    int getNumBlockedWrites() const;

    //==============================================================================
    struct WrittenMessage
    {
        juce::MidiMessage message;
        double timeMs = 0;          // juce::Time::getMillisecondCounterHiRes() at the write
    };

    std::vector<WrittenMessage> getWrittenMessages() const;
    int getNumWritten() const;
    void clearWritten();

    /** Waits, without running the message loop, until at least count messages were written. */
    bool waitForWritten (int count, int timeoutMs = 2000) const;

    /** Called on the writing thread after every logged write to the device's output. */
    void setOnMessageWritten (std::function<void (const juce::MidiMessage&)> hook);

    //==============================================================================
    /** Queues a message for delivery on the device's input thread. */
    void sendToHost (const juce::MidiMessage& message);

    /** Waits, without running the message loop, until every queued message was handled. */
    bool waitUntilDelivered (int timeoutMs = 2000) const;

    //==============================================================================
    juce::String getOutputIdentifier() const;
    juce::String getInputIdentifier() const;

    int getNumOpenInputs() const;           // input ports of any name not yet deleted
    int getNumStartedInputs() const;
    int getNumOpenOutputs() const;          // output ports of any name not yet deleted
    int getNumStopBackgroundThreadCalls() const;

    /** A MidiPorts backend onto this device. */
    std::unique_ptr<MidiPorts> createPorts() const;

    /** Installs the device as MidiPorts::get() and puts JUCE's backend back when it ends. */
    class ScopedInstall
    {
    public:
        explicit ScopedInstall (const VirtualMidiDevice& device);
        ~ScopedInstall();

        JUCE_DECLARE_NON_COPYABLE (ScopedInstall)
    };

    struct State;

private:
    template <typename Function>
    auto locked (Function&& function) const;

    template <typename Condition>
    bool waitFor (int timeoutMs, Condition&& condition) const;

    std::shared_ptr<State> state;
    std::thread inputThread;

    JUCE_DECLARE_NON_COPYABLE (VirtualMidiDevice)
};
