#pragma once

#include "tests/support/VirtualMidiDevice.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <memory>
#include <vector>

/** The device side of an update, taught to a VirtualMidiDevice through its written-message hook.

    On the device's input thread it answers START (39 bytes with the block size set here),
    each select, the first header after a select, each block, section end, end and the
    metadata request. It checks every block (length, index, nibbles, checksum), reassembles
    each section from the accepted blocks and lists what a correct host never sends in
    getErrors(), which a START clears. Every call may come from any thread.
*/
class VirtualUpdatePeer
{
public:
    enum class Step { start, version, select, header, block, sectionEnd, end, metadata };

    /** Instead of its answer a message may get a refusal (for START and end: a reply the host
        cannot use), no answer (withheld for sendWithheldReply), the abort reply, or the device
        leaving the port lists (the answer is withheld as for silence).
    */
    enum class Fault { refuse, quiet, abort, vanish };

    explicit VirtualUpdatePeer (VirtualMidiDevice& device);
    ~VirtualUpdatePeer();

    void setBlockSize (int blockSize);

    /** Once `skip` more messages of this step have been answered, the next `times` get the fault. */
    void setFault (Step step, Fault fault, int times = 1, int skip = 0);
    /** Forgets every fault and the withheld reply. */
    void clearFaults();
    void stayQuietAt (Step step, int times = 1)         { setFault (step, Fault::quiet, times); }

    /** Sends the reply that a fault withheld, as a late answer; false when there is none. */
    bool sendWithheldReply();

    struct Section
    {
        juce::uint32 length = 0, blockCount = 0;    // from the header
        juce::MemoryBlock data;                     // reassembled at section end
    };

    std::vector<Section> getSections() const;
    juce::StringArray getErrors() const;
    int getCount (Step step) const;
    bool isFinished() const;                        // the metadata request was answered

    struct State;

private:
    std::shared_ptr<State> state;
    VirtualMidiDevice& device;

    JUCE_DECLARE_NON_COPYABLE (VirtualUpdatePeer)
};
