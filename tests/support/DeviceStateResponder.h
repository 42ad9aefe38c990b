#pragma once

#include "tests/support/VirtualMidiDevice.h"

#include <memory>
#include <optional>

/** Teaches a VirtualMidiDevice to answer the device-state request as a connected device:
    the device-information request gets a data packet carrying record 0x2001 (device state,
    model type), cut into chunks of a chosen size and optionally lengthened by a filler
    record; the software-state read gets a system reply of 15 bytes, or 16 with a kind.
    Answers go back on the device's own input thread.

    @code
    DeviceStateResponder responder (device);
    responder.setAnswer ({ 3 });                          // update mode, default answers
    responder.setAnswer ({ 1, 0, 5, true, false, 3 });    // normal mode, kind 5, 3-byte chunks, no system reply
    @endcode
*/
class DeviceStateResponder
{
public:
    struct Answer
    {
        int state = 1;                  // 1: normal mode; other values: update mode
        int modelType = 0;
        std::optional<int> kind;        // set: 16-byte system reply; none: 15 bytes
        bool answersInformation = true;
        bool answersStateRead = true;
        int chunkSize = 183;            // payload bytes per chunk, 1 to 183
        int fillerLength = 0;           // payload of a record 0x1003 after 0x2001
    };

    explicit DeviceStateResponder (VirtualMidiDevice& device);
    ~DeviceStateResponder();

    void setAnswer (const Answer& answer);
    int getNumRequests() const;         // requests of either kind seen so far

    static bool isInformationRequest (const juce::MidiMessage& message);
    static bool isStateRead (const juce::MidiMessage& message);
    static juce::MidiMessage makeSystemReply (int state, std::optional<int> kind);

    struct Shared;

private:
    std::shared_ptr<Shared> shared;
    VirtualMidiDevice& device;

    JUCE_DECLARE_NON_COPYABLE (DeviceStateResponder)
};
