#pragma once

#include "device/SendMsgListener.h"
#include "firmware/FirmwareHeader.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <vector>

/** What the fuzz targets share: JUCE brought up once, a MIDI port layer without devices,
    the message queue drained after each input, a sender that checks every update message
    the engine writes, and a command target that records the codes.

    In these targets juce::Thread::sleep returns at once (the link wraps it): the pauses only
    pace a real device, and a 30 ms pause per start reply would cut the speed a hundredfold.
    JUCE's timer thread never starts (also wrapped): no timer fires by itself, the targets
    call the time-outs, and a startTimer wakes no thread. Commands posted to a
    CommandRecorder are recorded at once, without the message queue.
*/
namespace fuzz
{
    /** Brings up JUCE (message thread = the fuzzing thread) and the empty port layer. */
    void initialise();

    /** Delivers every message posted so far (command codes, async calls). */
    void drainMessages();

    /** Aborts with a message when the condition is false. */
    void require (bool condition, const char* what);

    //==============================================================================
    /** Reads the input front to back; past the end every read gives 0. */
    class InputReader
    {
    public:
        InputReader (const juce::uint8* data, size_t size) noexcept : data (data), size (size) {}

        bool isExhausted() const noexcept          { return position >= size; }
        juce::uint8 byte() noexcept                { return position < size ? data[position++] : 0; }
        const juce::uint8* take (size_t count, size_t& taken) noexcept;

    private:
        const juce::uint8* data;
        size_t size;
        size_t position = 0;
    };

    //==============================================================================
    /** A sender on the hub that checks each update message as a device would parse it. */
    class CheckingSender : public SendMsgListener
    {
    public:
        void sendSysEx (const juce::uint8* data, int length) override;

        int getNumSent() const noexcept            { return numSent; }
        int getLastCommand() const noexcept        { return lastCommand; }

        /** The block size that the data blocks must match; 0 while none is known. */
        int expectedBlockSize = 0;

    private:
        int numSent = 0;
        int lastCommand = -1;
    };

    //==============================================================================
    class CommandRecorder : public juce::Component
    {
    public:
        void handleCommandMessage (int commandId) override   { codes.push_back (commandId); }
        std::vector<int> codes;
    };

    //==============================================================================
    /** An accepted firmware file for one model, with sections of the given payload sizes
        (0 leaves the section out). Section 0x11 of a full-size file is allowed two entries.
    */
    juce::MemoryBlock makeFirmware (bool fullSize, const int (&sectionBytes)[FirmwareHeader::maxSections],
                                    juce::uint8 seed = 1);

    /** A file in the temporary folder holding these bytes, kept until the process ends. */
    juce::File writeScratchFile (const juce::String& name, const juce::MemoryBlock& content);
}
