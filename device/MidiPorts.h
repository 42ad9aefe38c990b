#pragma once

#include <juce_audio_devices/juce_audio_devices.h>

#include <memory>

/** An opened MIDI input of the port layer. As with JUCE's, start and stop only set and
    clear a flag: a callback that is running when stop returns may still run on.
*/
class MidiInputPort
{
public:
    virtual ~MidiInputPort() = default;
    virtual juce::String getIdentifier() const = 0;
    virtual juce::String getName() const = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
};

/** An opened MIDI output of the port layer. */
class MidiOutputPort
{
public:
    virtual ~MidiOutputPort() = default;
    virtual juce::String getName() const = 0;
    virtual void sendMessageNow (const juce::MidiMessage& message) = 0;   // may throw
    virtual void stopBackgroundThread() = 0;
};

/** Receives the messages of an opened input, on that input's own thread. */
class MidiPortCallback
{
public:
    virtual ~MidiPortCallback() = default;
    virtual void handleIncomingMidiMessage (const juce::String& sourceIdentifier, const juce::MidiMessage& message) = 0;
};

/** The one way the device link reaches the system's MIDI devices.

    The default backend wraps juce::MidiInput and juce::MidiOutput; tests install a
    virtual device in its place. As in JUCE's ALSA backend, one lock may be held around
    every delivery to any input, and opening or destroying any port may wait for it.
*/
class MidiPorts
{
public:
    virtual ~MidiPorts() = default;
    virtual juce::Array<juce::MidiDeviceInfo> getOutputDevices() = 0;
    virtual juce::Array<juce::MidiDeviceInfo> getInputDevices() = 0;
    virtual std::unique_ptr<MidiOutputPort> openOutput (int index) = 0;                               // null when it fails
    virtual std::unique_ptr<MidiInputPort> openInput (int index, MidiPortCallback* callback) = 0;     // null when it fails

    static MidiPorts& get();                                  // the installed backend; JUCE's unless replaced
    static void install (std::unique_ptr<MidiPorts> ports);   // null restores JUCE's
};
