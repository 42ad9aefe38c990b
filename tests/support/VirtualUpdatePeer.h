#pragma once

#include "tests/support/VirtualMidiDevice.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <memory>
#include <vector>

/** Teaches a VirtualMidiDevice the update protocol: the device side of an update.

    Attached through the device's written-message hook, it answers each update message the
    way a device in update mode does, on the device's own input thread:
    START with a 39-byte reply carrying the block size set here; every section select, the
    first section header after a select, every data block, section end, end (command 07)
    and the metadata request with one reply each; the version message and further headers
    of the same select with none. It checks every block's length, index, nibbles and
    checksum, refuses a bad block, reassembles each section from the blocks it accepted and
    keeps a list of protocol errors (anything a correct host never sends).

    @code
    VirtualMidiDevice device;
    VirtualUpdatePeer peer (device);
    peer.setBlockSize (64);
    peer.refuseBlock (3, 2);               // the fourth block of the update is refused twice
    ... run an update ...
    EXPECT_TRUE (peer.getErrors().isEmpty());
    EXPECT_EQ (peer.getSections()[0].data, expectedPayload);
    @endcode

    Faults on request: refusals, silence at a step (the reply is kept and can be sent late),
    the abort reply, an end reply with another command byte, vanishing from the port lists,
    and answers an inconsistent device would give (to the version message, to every header).
    Every setter may be called from any thread, also while an update runs.
*/
class VirtualUpdatePeer
{
public:
    enum class Step { start, version, select, header, block, sectionEnd, end, metadata };

    explicit VirtualUpdatePeer (VirtualMidiDevice& device);
    ~VirtualUpdatePeer();

    //==============================================================================
    /** Block size announced in the START reply (0 to 255). */
    void setBlockSize (int blockSize);

    /** Length of the START reply (normally 39); a shorter one lacks bytes of its first field. */
    void setStartReplyLength (int length);

    /** The block with this number, counted over the whole update from 0, is refused
        this many times before it is accepted.
    */
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

    /** Command byte of the end reply (normally 0x07). */
    void setEndReplyCommand (int command);

    /** Misbehaviour: answer the version message; answer every header, not only the first. */
    void setAnswerVersion (bool shouldAnswer);
    void setAnswerEveryHeader (bool shouldAnswer);

    //==============================================================================
    struct Section
    {
        int selectedId = -1;            // the id of the select that preceded its header
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
    int getRefusals() const;

    /** True once the metadata request has been answered. */
    bool isFinished() const;

    struct State;

private:
    std::shared_ptr<State> state;
    VirtualMidiDevice& device;

    JUCE_DECLARE_NON_COPYABLE (VirtualUpdatePeer)
};
