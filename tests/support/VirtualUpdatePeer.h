#pragma once

#include "tests/support/VirtualMidiDevice.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <memory>
#include <vector>

/** The device side of an update, taught to a VirtualMidiDevice through its written-message hook.

    On the device's input thread it answers START (39 bytes with the block size set here),
    every select, the first header after a select, every block, section end, end and the
    metadata request; the version message and further headers of a select get no answer.
    It checks every block (length, index, nibbles, checksum), reassembles each section from
    the accepted blocks and lists anything a correct host never sends in getErrors().
    Faults on request; every setter may be called from any thread, also during an update.
*/
class VirtualUpdatePeer
{
public:
    enum class Step { start, version, select, header, block, sectionEnd, end, metadata };

    explicit VirtualUpdatePeer (VirtualMidiDevice& device);
    ~VirtualUpdatePeer();

    //==============================================================================
    void setBlockSize (int blockSize);

    /** Normally 39; a shorter reply lacks bytes of its first field. */
    void setStartReplyLength (int length);

    /** Block number (counted over the whole update from 0) refused this often before it is accepted. */
    void refuseBlock (int blockNumber, int times);

    /** The next `times` messages of a step (select, header or section end) are refused. */
    void refuseStep (Step step, int times = 1);

    /** The next `times` messages of this step get no reply; the last withheld reply is kept. */
    void stayQuietAt (Step step, int times = 1);

    /** Sends the reply that silence withheld, as a late answer. */
    void sendWithheldReply();

    /** Answers the next message of this step with the abort reply instead. */
    void abortAt (Step step);

    /** Sends the abort reply now. */
    void sendAbort();

    /** Leaves the port lists on the next message of this step, without answering it. */
    void vanishAt (Step step);

    /** Normally 0x07. */
    void setEndReplyCommand (int command);

    /** Out of step: answer the version message; answer every header, not only the first. */
    void setAnswerVersion (bool shouldAnswer);
    void setAnswerEveryHeader (bool shouldAnswer);

    //==============================================================================
    struct Section
    {
        juce::uint32 length = 0;        // from the header
        juce::uint32 blockCount = 0;    // from the header
        int blocksAccepted = 0;
        bool ended = false;
        juce::MemoryBlock data;         // reassembled at section end
    };

    std::vector<Section> getSections() const;
    std::vector<int> getSelects() const;
    juce::StringArray getErrors() const;
    juce::MemoryBlock getVersion() const;
    int getCount (Step step) const;

    /** True once the metadata request has been answered. */
    bool isFinished() const;

    struct State;

private:
    std::shared_ptr<State> state;
    VirtualMidiDevice& device;

    JUCE_DECLARE_NON_COPYABLE (VirtualUpdatePeer)
};
