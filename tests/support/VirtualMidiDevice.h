#pragma once

#include "device/MidiPorts.h"

#include <functional>
#include <memory>
#include <thread>
#include <vector>

/** A stand-in for a real device on the MIDI port layer: one output and one input, listed after
    any unrelated ports. Writes to its output are logged and handed to the written-message hook
    on the writing thread; sendToHost queues a message that the device's own input thread
    delivers to its started inputs. An input's stop() returns once no delivery to it runs or
    follows, also when called from its delivery. Ports may outlive the device.
*/
class VirtualMidiDevice
{
public:
    explicit VirtualMidiDevice (const juce::String& outputName = "Norvo", const juce::String& inputName = "Norvo");
    ~VirtualMidiDevice();

    void setOtherPorts (const juce::StringArray& outputs, const juce::StringArray& inputs);
    void plug();
    void unplug();                              // the device leaves the lists; writes and deliveries are lost
    void setRefuseOpen (bool output, bool input);
    void setThrowOnWrite (bool shouldThrow);
    void setWriteBlocked (bool shouldBlock);    // blocked writes wait, unlogged, until released
    int getNumBlockedWrites() const;

    struct WrittenMessage { juce::MidiMessage message; double timeMs = 0; };  // time: getMillisecondCounterHiRes()

    std::vector<WrittenMessage> getWrittenMessages() const;
    int getNumWritten() const;
    void clearWritten();
    bool waitForWritten (int count, int timeoutMs = 2000) const;    // these waits run no message loop
    void setOnMessageWritten (std::function<void (const juce::MidiMessage&)> hook);

    void sendToHost (const juce::MidiMessage& message);
    bool waitUntilDelivered (int timeoutMs = 2000) const;

    juce::String getOutputIdentifier() const;
    juce::String getInputIdentifier() const;
    int getNumOpenInputs() const;           // of any name, not yet deleted
    int getNumStartedInputs() const;
    int getNumOpenOutputs() const;          // of any name, not yet deleted
    int getNumStopBackgroundThreadCalls() const;

    std::unique_ptr<MidiPorts> createPorts() const;

    /** Installs the device as MidiPorts::get() and puts JUCE's backend back when it ends. */
    struct ScopedInstall
    {
        explicit ScopedInstall (const VirtualMidiDevice& device)    { MidiPorts::install (device.createPorts()); }
        ~ScopedInstall()                                            { MidiPorts::install (nullptr); }
        JUCE_DECLARE_NON_COPYABLE (ScopedInstall)
    };

    struct State;

private:
    std::shared_ptr<State> state;
    std::thread inputThread;

    JUCE_DECLARE_NON_COPYABLE (VirtualMidiDevice)
};
