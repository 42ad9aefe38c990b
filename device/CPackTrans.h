#pragma once

#include "device/CMIDIUsbIntf.h"
#include "device/COMMReciverListener.h"
#include "device/MIDIReciverListener.h"
#include "device/WireFormat.h"

#include <juce_events/juce_events.h>

#include <functional>

/** One outgoing message of the packet queue. */
struct PackMessage
{
    enum State : juce::uint16
    {
        waiting  = 0,
        sending  = 1,
        finished = 2
    };

    juce::uint16 total = 0;
    juce::uint16 offset = 0;     // bytes already sent
    juce::uint16 state = finished;
    juce::Array<juce::uint8> data;
    juce::uint8 command = WireFormat::commandDataPacket;
};

/** Receive buffer of one data packet being reassembled; free while total is 0. */
struct ReassemblySlot
{
    juce::uint8 buffer[WireFormat::reassemblyBufferSize];
    juce::uint16 received;
    juce::uint16 total;
};

/** The packet transport.

    Send side: queued messages are cut into nibble-coded data packet chunks of at most
    183 bytes; the 10 ms pump (SendMsgThread) sends at most one chunk per tick, with the
    pauses of the device's pacing. Receive side: every incoming MIDI message is classified
    and data packet chunks are reassembled in a ring of 64 slots; results go to the
    MIDIReciverListeners.

    Threads: the pump and enqueueMessage run on the message thread, onReceive on the MIDI
    input thread. The queue is the only state they share; it is touched only under the
    message-manager lock.
*/
class CPackTrans : public juce::DeletedAtShutdown,
                   public COMMReciverListener
{
public:
    /** Blocks the calling thread for the given number of milliseconds. */
    using Sleeper = std::function<void (int milliseconds)>;

    /** The one transport, wired to the state machine on the first call. */
    static CPackTrans* getInstance();

    /** Deletes the instance, if any; the next getInstance builds a fresh one. */
    static void deleteInstance();

    /** A transport that sends through `output` and pauses through `sleeper`; not wired
        to the state machine. getInstance builds the one that sends through its own link.
    */
    explicit CPackTrans (COMMIntf* output = nullptr, Sleeper sleeper = {});
    ~CPackTrans() override;

    /** Back to the state of a new transport: no queued or current message, every
        reassembly slot free. Receivers and the link stay. For reuse of one transport by
        a single thread (fuzzing, tests): nothing may be received or pumped meanwhile.
    */
    void reset();

    /** Adds a receiver unless it is already there. */
    void addReceiver (MIDIReciverListener* receiver);

    /** Queues a copy of the message for the pump. A message longer than 16,383 bytes
        cannot be framed and is refused: nothing is queued.
    */
    void enqueueMessage (const juce::Array<juce::uint8>& message);

    /** One tick of the send side: sends the current message's next chunk, or takes the
        next message from the queue.
    */
    void sendPump();

    /** Writes and hands on the message's next chunk; 1 while more chunks follow, else 0. */
    int sendChunk (PackMessage& message);

    /** Classifies one incoming MIDI message (its raw bytes). */
    void onReceive (const juce::uint8* data, int length) override;

    CMIDIUsbIntf& getLink() noexcept    { return link; }

private:
    void dropPendingOutput();
    void receiveChunk (const juce::uint8* data, int length);
    void writeFrameHeader (const PackMessage& message);
    void writeOffset (int offset);
    void encodePayload (const PackMessage& message, int numBytes);
    void pause (int milliseconds);

    template <typename Call>
    void notifyReceivers (Call&& call);

    juce::Array<MIDIReciverListener*> receivers;
    CMIDIUsbIntf link;
    COMMIntf* output;
    Sleeper sleeper;
    juce::Array<juce::uint8> frame;
    PackMessage current;
    juce::Array<PackMessage> queue;
    std::unique_ptr<ReassemblySlot[]> slots;
    juce::uint8 slotIndex = 0;

    static constexpr int numSlots = 64;
    static CPackTrans* instance;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CPackTrans)
};
