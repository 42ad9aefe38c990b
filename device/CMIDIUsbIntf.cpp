#include "device/CMIDIUsbIntf.h"

#include "device/MIDIManager.h"
#include "device/NotificationWalk.h"

int CMIDIUsbIntf::send (const juce::Array<juce::uint8>& frame, int length)
{
    jassert (length >= 0 && length <= frame.size());

    juce::HeapBlock<juce::uint8> bytes ((size_t) length + 2);
    bytes[0] = 0xF0;
    std::memcpy (bytes + 1, frame.begin(), (size_t) length);
    bytes[length + 1] = 0xF7;

    const juce::MidiMessage message (bytes, length + 2, 0.0);
    auto* manager = MIDIManager::getInstance();

    if (manager->isCanSendUserMsg)
        manager->getStateMachine().fireEvent (evSendSysEx, const_cast<juce::MidiMessage*> (&message));

    return length;
}

void CMIDIUsbIntf::handleMidiMessage (const juce::MidiMessage& message)
{
    notifyFromLastToFirst (receivers, [&] (COMMReciverListener& receiver)
    {
        receiver.onReceive (message.getRawData(), message.getRawDataSize());
    });
}
