#pragma once

#include <juce_core/juce_core.h>

/** Receives what the device link decodes (records, device state, update replies,
    send progress) and raw SysEx on its way toward the device.

    Record operations get the fixed-layout copy of one record (see device/Records.h)
    and a second argument that is always 0. Every operation has an empty default body.
*/
class DataListener
{
public:
    virtual ~DataListener() = default;

    virtual void closeDevice() {}
    virtual void deviceState (int /*state*/) {}
    virtual void requestRecord2002() {}
    virtual void softwareJump() {}

    virtual void receivedRecord2003 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord2005 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord0000 (const void* /*record*/, int /*zero*/) {}

    virtual void receivedRecord000F (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord000C (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord000D (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord000E (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord1008 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord0006 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord0002 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord0014 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord0015 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord0016 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord0005 (const void* /*record*/, int /*zero*/) {}

    virtual void receivedRecord0008 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord0013 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord0007 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord0009 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord000A (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord000B (const void* /*record*/, int /*zero*/) {}

    virtual void receivedRecord1007 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord1000 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord1009 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord100C (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord100B (const void* /*record*/, int /*zero*/) {}

    /** direction 1: toward the device; direction 0: a reply from the device. */
    virtual void sysExMessage (int /*length*/, const juce::uint8* /*data*/, int /*direction*/) {}

    /** The last chunk of a queued message has been handed on. */
    virtual void sendProgress (int /*offset*/, int /*total*/) {}

    virtual void receivedRecord1001 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord1002 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord1005 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord1004 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord100D (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord100E (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord100F (const void* /*record*/, int /*zero*/) {}

    /** After the last record of a packet: the packet's length, the second and first
        u16 of its type-0 record (-1 and -2 without one), its record types in order, 0. */
    virtual void packetDecoded (int /*length*/, int /*value1*/, int /*value2*/,
                                juce::Array<int> /*recordTypes*/, int /*zero*/) {}

    virtual void receivedRecord0010 (const void* /*record*/, int /*zero*/) {}
    virtual void receivedRecord1011 (const void* /*record*/, int /*zero*/) {}

    virtual void receivedRecord2006 (const void* /*record*/, int /*zero*/) {}
};
