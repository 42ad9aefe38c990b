#pragma once

#include "device/MidiPorts.h"

#include <atomic>
#include <memory>
#include <mutex>

/** The device's pair of MIDI ports: where the scan found them, and the opened ports.

    The scan and the connect action write it on the message thread; sends read it on
    whichever thread fires them, and a failed write may close it from that thread, so
    every field is guarded. An output stays alive while a write on it is running, even
    when the pair is closed meanwhile.

    The port layer may hold one lock around every delivery to any input and take it to
    open or destroy any port (JUCE's ALSA backend does), while a delivery may wait for the
    message thread. So every port is opened, stopped and destroyed under a
    MessageThreadLock::Refusal, and a retired input is stopped before anything else.
*/
class MIDIPortPair
{
public:
    explicit MIDIPortPair (MidiPortCallback* callbackToUse);
    ~MIDIPortPair();

    static constexpr int maxSendsInFlight = 5;
    static constexpr int defaultSendTimeLimitMs = 5000;

    //==============================================================================
    void setOutputDevice (int index, const juce::String& name);
    void setInputDevice (int index, const juce::String& name);

    int getOutputIndex() const;
    juce::String getOutputName() const;
    int getInputIndex() const;
    juce::String getInputName() const;

    //==============================================================================
    /** Keeps an open output whose name matches the stored output name (letter case
        ignored); otherwise stops the held one and opens the stored index in its place.
        Returns false when that open failed.
    */
    bool openOutput();

    /** Retires the held input, then opens the stored input index, holds it and only
        then starts it, so that its first message is taken as the pair's own.
        Returns false when the open failed.
    */
    bool openInput();

    bool hasOutput() const;
    bool hasInput() const;
    bool isOpenInput (const juce::String& identifier) const;

    /** Retires the input, then releases the output, and forgets the indexes and names. */
    void close();

    //==============================================================================
    /** Writes at once on the calling thread while both ports are open; otherwise does
        nothing. Whatever the output throws is passed on.
    */
    void writeNow (const juce::MidiMessage& message);

    /** Writes a copy on a short-lived thread, at most maxSendsInFlight at a time; a send
        beyond that, or with a port missing, is dropped.
    */
    void sendMessage (const juce::MidiMessage& message);

    int getSendsInFlight() const;

    /** How long a send's watcher waits for its write before it gives up its place. */
    void setSendTimeLimit (int milliseconds) noexcept   { sendTimeLimitMs = milliseconds; }
    int getSendTimeLimit() const noexcept               { return sendTimeLimitMs; }

private:
    struct SendSlots
    {
        std::mutex lock;
        int inFlight = 0;
    };

    static void watchSend (std::shared_ptr<MidiOutputPort> output, juce::MidiMessage message,
                           int timeLimitMs, std::shared_ptr<SendSlots> slots);
    struct OpenInput;

    static void retireInput (std::shared_ptr<OpenInput> input);
    static std::shared_ptr<MidiOutputPort> holdOutput (std::unique_ptr<MidiOutputPort> output);

    mutable std::mutex portLock;
    int outputIndex = -1;
    juce::String outputName;
    int inputIndex = -1;
    juce::String inputName;
    std::shared_ptr<MidiOutputPort> output;
    std::shared_ptr<OpenInput> input;
    juce::String inputIdentifier;

    MidiPortCallback* const callback;
    const std::shared_ptr<SendSlots> sendSlots;
    std::atomic<int> sendTimeLimitMs { defaultSendTimeLimitMs };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MIDIPortPair)
};
