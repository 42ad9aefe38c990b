#pragma once

#include "tests/support/VirtualMidiDevice.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <memory>
#include <optional>
#include <vector>

/** Teaches a VirtualMidiDevice to answer the device-state request as a connected device:

    - the device-information request (a data packet with record 0x2001) gets a data packet
      carrying record 0x2001 (device state, model type), cut into chunks of a chosen size
      and optionally made longer by a filler record after it;
    - the software-state read gets a system reply of 15 bytes, or 16 with a device kind.

    Answers go back through the device's own input thread. Settings may change at any time.

    @code
    VirtualMidiDevice device;
    DeviceStateResponder responder (device);
    responder.setDeviceState (3);                 // update mode
    responder.setChunkSize (3);                   // 8-byte answer as 3 + 3 + 2
    @endcode
*/
class DeviceStateResponder
{
public:
    explicit DeviceStateResponder (VirtualMidiDevice& device);
    ~DeviceStateResponder();

    void setDeviceState (int state);              // 1: normal mode; other values: update mode
    void setModelType (int modelType);
    void setDeviceKind (std::optional<int> kind); // set: 16-byte system reply; none: 15 bytes
    void setAnswersInformationRequest (bool shouldAnswer);
    void setAnswersStateRead (bool shouldAnswer);
    void setChunkSize (int payloadBytesPerChunk); // 1 to 183
    void setFillerLength (int numBytes);          // payload of a record 0x1003 after 0x2001; 0 for none

    int getNumInformationRequests() const;
    int getNumStateReads() const;

    //==============================================================================
    static bool isInformationRequest (const juce::MidiMessage& message);
    static bool isStateRead (const juce::MidiMessage& message);

    /** The data packet payload of the answer: record 0x2001, then the filler record if any. */
    static std::vector<juce::uint8> makeInformationPayload (int state, int modelType, int fillerLength);

    /** A payload cut into data packet chunks, each F0 ... F7. */
    static std::vector<juce::MidiMessage> makeChunks (const std::vector<juce::uint8>& payload, int chunkSize);

    static juce::MidiMessage makeSystemReply (int state, std::optional<int> kind);

    struct Settings;

private:
    std::shared_ptr<Settings> settings;
    VirtualMidiDevice& device;

    JUCE_DECLARE_NON_COPYABLE (DeviceStateResponder)
};
