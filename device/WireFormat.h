#pragma once

#include <juce_core/juce_core.h>

/** Fixed values of the SysEx frames exchanged with the device.

    Positions named "wire" count from the F0 of a received message; frame writers build
    a frame without F0 and F7, so their byte k is wire byte k + 1.
*/
namespace WireFormat
{
    /** Bytes 1 to 7 of every frame this system builds (not checked on receipt). */
    constexpr juce::uint8 sysExSignature[] = { 0x21, 0x25, 0x7E, 'M', 'Z', '-', 0x0A };
    constexpr int signatureSize = (int) sizeof (sysExSignature);

    constexpr juce::uint8 commandDataPacket  = 0x11;   // every queued data packet
    constexpr juce::uint8 commandJump        = 0x12;   // the jump request and jump address frame
    constexpr juce::uint8 commandDropOutput  = 0x03;   // device command: drop pending output

    constexpr int maxChunkPayload   = 183;     // payload bytes of one data packet chunk
    constexpr int maxMessageLength  = 16383;   // total and offset are two 7-bit fields each
    constexpr int reassemblyBufferSize = 16384;

    /** Address of the software-state read frame and of the system reply. */
    constexpr juce::uint8 softwareStateAddress[] = { 0x12, 0x00, 0x00, 0x00 };
    constexpr juce::uint8 softwareJumpAddress[]  = { 0x12, 0x00, 0x20, 0x00 };

    /** Wire positions of a received frame. */
    constexpr int wireCommandIndex  = 8;
    constexpr int wireAddressIndex  = 9;
    constexpr int wireTotalIndex    = 9;
    constexpr int wireOffsetIndex   = 11;
    constexpr int wirePayloadIndex  = 13;
    constexpr int wireStateIndex    = 13;
    constexpr int wireKindIndex     = 14;

    /** A data packet chunk without payload: F0, signature, command, total, offset, F7. */
    constexpr int emptyChunkWireSize = 14;

    /** Update protocol messages start F0 7E 48. */
    constexpr juce::uint8 updateMessagePrefix[] = { 0x7E, 0x48 };
}
