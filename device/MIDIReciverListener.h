#pragma once

#include <juce_core/juce_core.h>

/** What leaves the packet transport after an incoming message has been classified,
    plus the end of an outgoing queued message. Every operation has an empty default body.
*/
class MIDIReciverListener
{
public:
    virtual ~MIDIReciverListener() = default;

    virtual void programChange (const juce::uint8* /*data*/, int /*length*/) {}
    virtual void controlChange (const juce::uint8* /*data*/, int /*length*/) {}

    /** A completely reassembled data packet: its bytes and its total length. */
    virtual void handlePacket (const juce::uint8* /*data*/, int /*length*/) {}

    /** A 15- or 16-byte system reply. */
    virtual void systemReply (const juce::uint8* /*data*/, int /*length*/) {}

    /** An update protocol message (bytes 1-2 are 7E 48). */
    virtual void sysExReply (const juce::uint8* /*data*/, int /*length*/) {}

    /** The last chunk of an outgoing message has been handed on. */
    virtual void sendProgress (int /*offset*/, int /*total*/) {}
};
