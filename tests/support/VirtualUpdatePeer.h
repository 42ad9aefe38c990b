#pragma once

#include "tests/support/VirtualMidiDevice.h"

#include <juce_audio_basics/juce_audio_basics.h>

/** The device side of an update, taught to a VirtualMidiDevice through its written-message hook.
    It answers each step as a device does, on the device's thread as soon as the message is written
    (not the version message, nor a repeated header), checks
    the blocks and block counts, reassembles the sections, and lists what a correct host never
    sends in getErrors(), which START clears. Any thread may call it.
*/
class VirtualUpdatePeer
{
public:
    enum class Step { start, version, select, header, block, sectionEnd, end, metadata };

    /** A refusal, no answer, the abort reply, or the device leaving the port lists; the answer that
        a message did not get is kept for sendWithheldReply().
    */
    enum class Fault { none, refuse, quiet, abort, vanish };

    explicit VirtualUpdatePeer (VirtualMidiDevice& device);
    ~VirtualUpdatePeer();

    void setBlockSize (int blockSize);

    /** Once `skip` more messages of this step have been answered, the next `times` get the fault. */
    void setFault (Step step, Fault fault, int times = 1, int skip = 0);
    void stayQuietAt (Step step, int times = 1)     { setFault (step, Fault::quiet, times); }
    void clearFaults();                             // and the withheld reply
    bool sendWithheldReply();                       // false when there is none

    struct Section { juce::uint32 length = 0, blockCount = 0; juce::MemoryBlock data; };

    std::vector<Section> getSections() const;
    juce::StringArray getErrors() const;
    bool isFinished() const;                        // the metadata request was answered

private:
    struct State;
    std::shared_ptr<State> state;
    VirtualMidiDevice& device;
};
