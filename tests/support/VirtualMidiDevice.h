#pragma once

#include "device/MidiPorts.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

/** A stand-in for a real device on the MIDI port layer: one output, one input. Writes are logged and handed
    to the written-message hook on the writing thread; sendToHost queues a message that the device's input
    thread delivers to its started inputs. It locks as JUCE's ALSA backend does: one device-wide delivery lock
    is held around every delivery and taken to open any port and to destroy any port; start() and stop() only
    set and clear a flag. Ports may outlive the device. Its waits run no message loop. */
class VirtualMidiDevice
{
public:
    struct WrittenMessage { juce::MidiMessage message; double timeMs = 0; };  // time: getMillisecondCounterHiRes()
    struct Input;

    /** What the device and its ports share. */
    struct State
    {
        template <typename Function> auto locked (Function&& function)  { const std::lock_guard<std::mutex> guard (lock); return function (*this); }

        template <typename Condition> bool waitFor (int ms, Condition&& c)  { std::unique_lock<std::mutex> g (lock); return changed.wait_for (g, std::chrono::milliseconds (ms), [&] { return c (*this); }); }

        void write (const juce::MidiMessage& message);
        void deliverAll();

        std::recursive_mutex deliveryLock;      // held by a delivery, by opening and by destroying a port; taken before lock
        std::mutex lock;
        std::condition_variable changed;
        juce::String outputName, inputName;
        bool plugged = true, throwOnWrite = false, writeBlocked = false, delivering = false, shuttingDown = false;
        bool refuseOutput = false, refuseInput = false;     // listed, but opening fails (held by another program)
        bool outputListed = true, inputListed = true;       // each port may leave the lists on its own
        int blockedWrites = 0, openOutputs = 0, outputDestructionsBegun = 0;
        std::vector<WrittenMessage> written;
        std::function<void (const juce::MidiMessage&)> onWritten;
        std::function<void()> afterWritten;         // on the writing thread, once the device has the message, before the write returns
        std::function<void()> beforeCallback;       // on the input thread, once an input is found started, before its callback
        std::deque<juce::MidiMessage> queue;
        std::optional<juce::MidiMessage> greeting;
        std::vector<Input*> inputs;
    };

    explicit VirtualMidiDevice (const juce::String& outputName = "Norvo", const juce::String& inputName = "Norvo");
    ~VirtualMidiDevice();

    void plug()                             { state->locked ([] (State& s) { s.plugged = true; }); }
    void unplug()                           { state->locked ([] (State& s) { s.plugged = false; }); }  // not listed; writes and deliveries lost
    void setListed (bool output, bool input)        { state->locked ([=] (State& s) { s.outputListed = output; s.inputListed = input; }); }
    void setRefuseOpen (bool output, bool input)    { state->locked ([=] (State& s) { s.refuseOutput = output; s.refuseInput = input; }); }
    void setThrowOnWrite (bool b)           { state->locked ([b] (State& s) { s.throwOnWrite = b; }); }
    void setWriteBlocked (bool b)           { state->locked ([b] (State& s) { s.writeBlocked = b; s.changed.notify_all(); }); }  // writes wait, unlogged
    void clearWritten()                     { state->locked ([] (State& s) { s.written.clear(); }); }
    void sendToHost (const juce::MidiMessage& m)    { state->locked ([&m] (State& s) { s.queue.push_back (m); s.changed.notify_all(); }); }

    void setGreeting (const juce::MidiMessage& m)   { state->locked ([&m] (State& s) { s.greeting = m; }); }  // delivered as soon as an input starts
    void setOnMessageWritten (std::function<void (const juce::MidiMessage&)> hook)  { state->locked ([&] (State& s) { s.onWritten = std::move (hook); }); }
    void setBeforeCallback (std::function<void()> hook)     { state->locked ([&] (State& s) { s.beforeCallback = std::move (hook); }); }
    /** Holds the writing thread after the device has a message (and may have answered it), as a thread
        descheduled on its way back from a write is held. */
    void setAfterWritten (std::function<void()> hook)       { state->locked ([&] (State& s) { s.afterWritten = std::move (hook); }); }

    std::vector<WrittenMessage> getWrittenMessages() const  { return state->locked ([] (State& s) { return s.written; }); }
    int getNumWritten() const               { return state->locked ([] (State& s) { return (int) s.written.size(); }); }
    int getNumBlockedWrites() const         { return state->locked ([] (State& s) { return s.blockedWrites; }); }
    int getNumOpenInputs() const            { return state->locked ([] (State& s) { return (int) s.inputs.size(); }); }
    int getNumOpenOutputs() const           { return state->locked ([] (State& s) { return s.openOutputs; }); }
    int getNumStartedInputs() const;
    juce::String getOutputIdentifier() const;
    juce::String getInputIdentifier() const;

    bool waitUntilDelivered (int ms = 2000) const           { return state->waitFor (ms, [] (State& s) { return s.queue.empty() && ! s.delivering; }); }
    bool waitUntilDelivering (int ms = 2000) const          { return state->waitFor (ms, [] (State& s) { return s.delivering; }); }
    /** Until this many outputs have begun their destruction, which may then wait for a running delivery. */
    bool waitUntilOutputDestructionsBegun (int count, int ms = 2000) const  { return state->waitFor (ms, [count] (State& s) { return s.outputDestructionsBegun >= count; }); }

    std::unique_ptr<MidiPorts> createPorts() const;

    /** Installs the device as MidiPorts::get() and puts JUCE's backend back when it ends. */
    struct ScopedInstall
    {
        explicit ScopedInstall (const VirtualMidiDevice& device)    { MidiPorts::install (device.createPorts()); }
        ~ScopedInstall()                                            { MidiPorts::install (nullptr); }
        JUCE_DECLARE_NON_COPYABLE (ScopedInstall)
    };

private:
    std::shared_ptr<State> state = std::make_shared<State>();
    std::thread inputThread;

    JUCE_DECLARE_NON_COPYABLE (VirtualMidiDevice)
};
