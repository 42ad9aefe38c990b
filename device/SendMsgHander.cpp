#include "device/SendMsgHander.h"

#include "device/CPackTrans.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/WireFormat.h"

#include <cstdio>

SendMsgHander* SendMsgHander::instance = nullptr;

namespace
{
    juce::Array<juce::uint8> emptyRecordRequest (int type)
    {
        return { (juce::uint8) (type & 0xFF), (juce::uint8) (type >> 8), 0x00, 0x00 };
    }

    /** F0, signature, command, then the given bytes, F7. */
    juce::Array<juce::uint8> signedFrame (juce::uint8 command, std::initializer_list<juce::uint8> body)
    {
        juce::Array<juce::uint8> frame;
        frame.add (0xF0);
        frame.addArray (WireFormat::sysExSignature, WireFormat::signatureSize);
        frame.add (command);

        for (auto byte : body)
            frame.add (byte);

        frame.add (0xF7);
        return frame;
    }

    void printJumpAddressFrame()
    {
        std::printf ("ADDR_SYS_SOFTWARE_JUMP:");

        for (auto byte : WireFormat::sysExSignature)
            std::printf ("%02x,", byte);

        std::printf ("%02x, ", WireFormat::commandJump);

        for (auto byte : WireFormat::softwareJumpAddress)
            std::printf ("%02x,", byte);

        std::printf (" \n");
    }
}

SendMsgHander* SendMsgHander::getInstance()
{
    if (instance == nullptr)
    {
        auto* sender = new SendMsgHander();
        sender->thread.startThread();
        instance = sender;
    }

    return instance;
}

SendMsgHander::SendMsgHander()
    : thread (juce::String())
{
}

void SendMsgHander::deleteInstance()
{
    delete instance;
}

SendMsgHander::~SendMsgHander()
{
    thread.stopThread (1000);

    if (instance == this)
        instance = nullptr;
}

void SendMsgHander::requestRecord2002()
{
    CPackTrans::getInstance()->enqueueMessage (emptyRecordRequest (0x2002));
}

void SendMsgHander::requestRecord1006()
{
    CPackTrans::getInstance()->enqueueMessage (emptyRecordRequest (0x1006));
}

void SendMsgHander::closeDevice()
{
    KRMIDIDeviceManager::getInstance()->closeDevice();
}

void SendMsgHander::softwareJump()
{
    // A data packet of one empty record of type 0x2000: total 4, offset 0, nibble-coded.
    const auto request = signedFrame (WireFormat::commandJump,
                                      { 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00 });
    sendToStateMachine (request.begin(), request.size());

    printJumpAddressFrame();

    const auto& address = WireFormat::softwareJumpAddress;
    const auto addressFrame = signedFrame (WireFormat::commandJump, { address[0], address[1], address[2], address[3] });
    sendToStateMachine (addressFrame.begin(), addressFrame.size());
}

void SendMsgHander::sendSysEx (const juce::uint8* data, int length)
{
    if (length < 0 || (data == nullptr && length > 0))
        return;

    // Frames up to a data block's size are built on the stack: no allocation per message.
    juce::uint8 onStack[1024];
    juce::HeapBlock<juce::uint8> onHeap;
    auto* bytes = onStack;

    if ((size_t) length + 2 > sizeof (onStack))
    {
        onHeap.malloc ((size_t) length + 2);
        bytes = onHeap.get();
    }

    bytes[0] = 0xF0;

    if (length > 0)
        std::memcpy (bytes + 1, data, (size_t) length);

    bytes[length + 1] = 0xF7;
    sendToStateMachine (bytes, length + 2);
}

void SendMsgHander::sendToStateMachine (const juce::uint8* bytes, int numBytes)
{
    auto* manager = MIDIManager::getInstance();
    const juce::MidiMessage message (bytes, numBytes, 0.0);

    if (manager->isCanSendUserMsg)
        manager->getStateMachine().fireEvent (evSendSysEx, const_cast<juce::MidiMessage*> (&message));
}
