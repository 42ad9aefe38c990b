#pragma once

#include <juce_core/juce_core.h>

/*  Fixed layouts of the record copies that ReceivedMsgHandle hands to the DataListeners.

    Each copy starts like the record on the wire (u16 type, u16 length, little-endian)
    and is followed by the payload fields in wire order, packed without padding.
    `length` holds the fixed payload size (sizeof - 4), except for Record100B and
    Record1011, which carry the length as received. Fields named `skipped...` are never
    copied and are always zero. Many fields are unaligned: read them by value, never
    through a reference or pointer to the field.
*/

namespace Records
{
    using juce::uint8;
    using juce::uint16;
    using juce::uint32;
    using juce::uint64;

   #pragma pack (push, 1)

    struct Header
    {
        uint16 type;
        uint16 length;
    };

    struct Record0000 { uint16 type; uint16 length; uint16 a; uint16 b; };

    /** field1 arrives as 0xFFFF for "none" and is delivered as 0. */
    struct Record0002
    {
        uint16 type; uint16 length;
        uint16 field1; uint32 field2; uint8 field3; uint8 field4; uint32 field5;
        uint16 field6; uint8 field7; uint8 skipped1; uint8 bytes[64]; uint64 field8;
    };

    struct Record0005 { uint16 type; uint16 length; uint8 field1; uint8 field2; uint8 skipped1[2];
                        uint32 field3; float field4; };
    struct Record0006 { uint16 type; uint16 length; uint32 field1; };
    struct Record0007 { uint16 type; uint16 length; uint16 field1; uint8 skipped1[2]; uint8 bytes[16]; };
    struct Record0008 { uint16 type; uint16 length; uint16 field1; uint64 field2; uint32 field3; uint8 field4;
                        uint8 skipped1; };
    struct Record0009 { uint16 type; uint16 length; uint16 field1; uint8 skipped1[2]; uint8 bytes[16]; };
    struct Record000A { uint16 type; uint16 length; uint16 field1; uint8 skipped1[2]; uint8 bytes[16]; };
    struct Record000B { uint16 type; uint16 length; uint16 field1; uint8 skipped1[2]; uint8 bytes[32]; uint64 field2; };
    struct Record000C { uint16 type; uint16 length; uint8 field1; uint8 field2; uint16 field3; double field4; };
    struct Record000D { uint16 type; uint16 length; uint8 field1; uint8 field2; uint8 field3; uint8 skipped1; };
    struct Record000E { uint16 type; uint16 length; uint8 field1; uint8 field2; uint8 skipped1[2]; float field3; };

    /** field3 keeps only its low 11 bits. */
    struct Record000F { uint16 type; uint16 length; uint8 field1; uint8 field2; uint8 skipped1[2]; uint16 field3; uint8 skipped2[2]; };

    struct Record0010 { uint16 type; uint16 length; uint8 field1; uint8 field2; uint16 field3; };
    struct Record0013 { uint16 type; uint16 length; uint8 field1; uint8 skipped1[3]; };
    struct Record0014 { uint16 type; uint16 length; uint8 field1; uint8 field2; uint16 field3; uint32 field4;
                        uint8 bytes[48]; double field5; float field6; };
    struct Record0015 { uint16 type; uint16 length; uint8 field1; uint8 field2; uint8 skipped1[2]; };
    struct Record0016 { uint16 type; uint16 length; uint8 field1; uint8 skipped1[3]; uint32 field2; };

    struct Record1000 { uint16 type; uint16 length; uint32 field1; uint16 field2; };
    struct Record1001 { uint16 type; uint16 length; uint32 field1; };
    struct Record1002 { uint16 type; uint16 length; uint32 field1; uint16 field2; uint8 skipped1[2]; };
    struct Record1004 { uint16 type; uint16 length; uint8 bytes[112]; double field1; float field2; };
    struct Record1005 { uint16 type; uint16 length; uint16 field1; uint8 skipped1[2]; float field2; };

    struct Record1007
    {
        uint16 type; uint16 length;
        uint32 field1; uint8 bytes[32]; uint64 field2; uint8 field3; uint8 field4; uint32 field5;
        uint32 field6; uint8 field7; uint8 field8; uint8 skipped1; uint8 field9; uint64 field10;
        uint32 field11; uint16 field12;
    };

    struct Record1008 { uint16 type; uint16 length; uint32 field1; };
    struct Record1009 { uint16 type; uint16 length; uint16 field1; uint8 skipped1[2]; uint32 field2; uint8 bytes[16]; };
    struct Record100B { uint16 type; uint16 length; uint32 field1; uint32 field2; };
    struct Record100C { uint16 type; uint16 length; uint16 field1; uint8 skipped1[2]; uint8 bytes[16]; };
    struct Record100D { uint16 type; uint16 length; uint16 field1; uint8 skipped1[2]; uint8 bytes[16]; };
    struct Record100E { uint16 type; uint16 length; uint16 field1; uint8 skipped1[2]; uint8 bytes[32]; uint32 field2; };
    struct Record100F { uint16 type; uint16 length; uint16 field1; uint8 field2; uint8 field3; };
    struct Record1011 { uint16 type; uint16 length; uint32 field1; };

    /** Not copied: its two values go to KRMIDIDeviceManager::setDeviceType and DataListener::deviceState. */
    struct Record2001 { uint16 type; uint16 length; uint16 deviceState; uint16 modelType; };

    struct Record2003 { uint16 type; uint16 length; uint16 field1; uint8 skipped1[2]; uint8 bytes[16]; };
    struct Record2005 { uint16 type; uint16 length; uint16 field1; uint8 skipped1[2]; };
    struct Record2006 { uint16 type; uint16 length; uint16 field1; uint8 field2; uint8 skipped1; };

   #pragma pack (pop)

    /** Payload size of a fixed layout: what its `length` field holds. */
    template <typename Record>
    constexpr int payloadSize() { return (int) (sizeof (Record) - sizeof (Header)); }

    static_assert (payloadSize<Record0002>() == 88);
    static_assert (payloadSize<Record0008>() == 16);
    static_assert (payloadSize<Record000B>() == 44);
    static_assert (payloadSize<Record0014>() == 68);
    static_assert (payloadSize<Record1004>() == 124);
    static_assert (payloadSize<Record1007>() == 72);
    static_assert (payloadSize<Record1009>() == 24);
    static_assert (payloadSize<Record100E>() == 40);
}
