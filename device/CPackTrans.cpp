#include "device/CPackTrans.h"

#include "device/MIDIManager.h"
#include "device/MessageThreadLock.h"
#include "device/NotificationWalk.h"

CPackTrans* CPackTrans::instance = nullptr;

namespace
{
    constexpr int frameBufferSize = 512;
    constexpr int writerPayloadIndex = WireFormat::wirePayloadIndex - 1;
    constexpr int pauseAfterMessageMs = 5;
    constexpr int pauseBetweenChunksMs = 5;
    constexpr int pauseAfterLastChunkMs = 1000;

    void sleepForReal (int milliseconds)
    {
        juce::Thread::sleep (milliseconds);
    }
}

CPackTrans* CPackTrans::getInstance()
{
    if (instance == nullptr)
    {
        auto* transport = new CPackTrans();
        MIDIManager::getInstance()->getStateMachine().addMessageListener (&transport->link.getMessageListener());
        transport->link.addReceiver (transport);
        instance = transport;
    }

    return instance;
}

CPackTrans::CPackTrans (COMMIntf* outputToUse, Sleeper sleeperToUse)
    : output (outputToUse != nullptr ? outputToUse : &link),
      sleeper (sleeperToUse ? std::move (sleeperToUse) : Sleeper (sleepForReal)),
      slots (new ReassemblySlot[numSlots]())
{
}

void CPackTrans::deleteInstance()
{
    delete instance;
}

CPackTrans::~CPackTrans()
{
    if (instance == this)
        instance = nullptr;
}

void CPackTrans::reset()
{
    queue.clear();
    current = PackMessage();

    // Marking the slots free is enough: a slot's bytes are written before they are read.
    for (int i = 0; i < numSlots; ++i)
    {
        slots[i].received = 0;
        slots[i].total = 0;
    }

    slotIndex = 0;
}

void CPackTrans::addReceiver (MIDIReciverListener* receiver)
{
    receivers.addIfNotAlreadyThere (receiver);
}

template <typename Call>
void CPackTrans::notifyReceivers (Call&& call)
{
    notifyFromLastToFirst (receivers, std::forward<Call> (call));
}

void CPackTrans::pause (int milliseconds)
{
    sleeper (milliseconds);
}

//==============================================================================
void CPackTrans::enqueueMessage (const juce::Array<juce::uint8>& message)
{
    if (message.size() > WireFormat::maxMessageLength)
        return;

    PackMessage packet;
    packet.total = (juce::uint16) message.size();
    packet.offset = 0;
    packet.state = PackMessage::waiting;
    packet.data = message;
    packet.command = WireFormat::commandDataPacket;

    MessageThreadLock lock;

    if (lock.lockWasGained())
        queue.add (std::move (packet));
}

void CPackTrans::sendPump()
{
    if (current.state == PackMessage::waiting || current.state == PackMessage::sending)
    {
        current.state = PackMessage::sending;

        if (sendChunk (current) == 0)
        {
            current.state = PackMessage::finished;
            pause (pauseAfterMessageMs);
        }

        return;
    }

    if (current.state == PackMessage::finished)
    {
        MessageThreadLock lock;

        if (lock.lockWasGained() && ! queue.isEmpty())
            current = queue.removeAndReturn (0);
    }
}

int CPackTrans::sendChunk (PackMessage& message)
{
    frame.resize (frameBufferSize);
    writeFrameHeader (message);

    const int startOffset = message.offset;
    const auto remaining = (juce::uint16) (message.total - message.offset);

    if (remaining <= WireFormat::maxChunkPayload)
    {
        encodePayload (message, remaining);
        writeOffset (startOffset);
        output->send (frame, writerPayloadIndex + 2 * remaining);
        message.offset = (juce::uint16) (message.offset + remaining);

        const int offset = message.offset, total = message.total;
        notifyReceivers ([=] (MIDIReciverListener& receiver) { receiver.sendProgress (offset, total); });

        if (startOffset != 0)
            pause (pauseAfterLastChunkMs);

        return 0;
    }

    encodePayload (message, WireFormat::maxChunkPayload);
    writeOffset (startOffset);
    output->send (frame, writerPayloadIndex + 2 * WireFormat::maxChunkPayload);
    message.offset = (juce::uint16) (message.offset + WireFormat::maxChunkPayload);

    if (startOffset != 0)
        pause (pauseBetweenChunksMs);

    return 1;
}

void CPackTrans::writeFrameHeader (const PackMessage& message)
{
    for (int i = 0; i < WireFormat::signatureSize; ++i)
        frame.set (i, WireFormat::sysExSignature[i]);

    frame.set (7, message.command);
    frame.set (8, (juce::uint8) (message.total & 0x7F));
    frame.set (9, (juce::uint8) (message.total >> 7));
}

void CPackTrans::writeOffset (int offset)
{
    frame.set (10, (juce::uint8) (offset & 0x7F));
    frame.set (11, (juce::uint8) (offset >> 7));
}

void CPackTrans::encodePayload (const PackMessage& message, int numBytes)
{
    jassert (message.offset + numBytes <= message.data.size());

    for (int i = 0; i < numBytes; ++i)
    {
        const auto byte = message.data.getUnchecked (message.offset + i);
        frame.set (writerPayloadIndex + 2 * i,     (juce::uint8) (byte >> 4));
        frame.set (writerPayloadIndex + 2 * i + 1, (juce::uint8) (byte & 0x0F));
    }
}

//==============================================================================
void CPackTrans::onReceive (const juce::uint8* data, int length)
{
    if (data == nullptr || length <= 0)
        return;

    const auto status = data[0];

    if ((status & 0xF0) == 0xB0)
    {
        notifyReceivers ([=] (MIDIReciverListener& receiver) { receiver.controlChange (data, length); });
        return;
    }

    if ((status & 0xF0) == 0xC0)
    {
        notifyReceivers ([=] (MIDIReciverListener& receiver) { receiver.programChange (data, length); });
        return;
    }

    if (status < 0xF0)
        return;

    if (length >= 3 && data[1] == WireFormat::updateMessagePrefix[0] && data[2] == WireFormat::updateMessagePrefix[1])
    {
        notifyReceivers ([=] (MIDIReciverListener& receiver) { receiver.sysExReply (data, length); });
        return;
    }

    if ((length == 15 || length == 16)
         && std::memcmp (data + WireFormat::wireAddressIndex, WireFormat::softwareStateAddress, 4) == 0)
    {
        notifyReceivers ([=] (MIDIReciverListener& receiver) { receiver.systemReply (data, length); });
        return;
    }

    if (length > WireFormat::wireCommandIndex && data[WireFormat::wireCommandIndex] == WireFormat::commandDropOutput)
    {
        dropPendingOutput();
        return;
    }

    receiveChunk (data, length);
}

void CPackTrans::dropPendingOutput()
{
    MessageThreadLock lock;

    if (lock.lockWasGained())
        queue.clear();
}

void CPackTrans::receiveChunk (const juce::uint8* data, int length)
{
    if (length < WireFormat::emptyChunkWireSize)
        return;

    const int total  = data[WireFormat::wireTotalIndex]  | (data[WireFormat::wireTotalIndex + 1] << 7);
    const int offset = data[WireFormat::wireOffsetIndex] | (data[WireFormat::wireOffsetIndex + 1] << 7);
    const int numBytes = (length - WireFormat::emptyChunkWireSize) / 2;

    auto* slot = &slots[slotIndex];
    const bool continuesCurrent = offset == slot->received && total == slot->total;

    if (! continuesCurrent)
    {
        if (offset != 0)
            return;

        // Only the current slot can still be continued: a packet left in the next one never
        // completed, so it is dropped and its slot taken.
        slotIndex = (juce::uint8) ((slotIndex + 1) % numSlots);
        slot = &slots[slotIndex];
        slot->received = 0;
        slot->total = (juce::uint16) total;
    }

    if (offset + numBytes > WireFormat::reassemblyBufferSize)
        return;

    const auto* nibbles = data + WireFormat::wirePayloadIndex;

    for (int i = 0; i < numBytes; ++i)
        slot->buffer[offset + i] = (juce::uint8) ((nibbles[2 * i] << 4) | nibbles[2 * i + 1]);

    slot->received = (juce::uint16) (slot->received + numBytes);

    if (slot->received != slot->total)
        return;

    const auto* packet = slot->buffer;
    notifyReceivers ([=] (MIDIReciverListener& receiver) { receiver.handlePacket (packet, total); });

    slot->received = 0;
    slot->total = 0;
}
