#include "device/ReceivedMsgHandle.h"

#include "device/CPackTrans.h"
#include "device/ConstVar.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MessageThreadLock.h"
#include "device/Records.h"
#include "device/WireFormat.h"

#include <cstdio>
#include <type_traits>
#include <vector>

#if JUCE_BIG_ENDIAN
 #error "Record copies are taken byte for byte from the little-endian wire format"
#endif

ReceivedMsgHandle* ReceivedMsgHandle::instance = nullptr;

namespace
{
    using namespace Records;

    int readU16 (const juce::uint8* bytes)
    {
        return bytes[0] | (bytes[1] << 8);
    }

    bool dataEnabled()
    {
        return ConstVar::getInstance()->dataEnabled;
    }

    template <typename Record, typename = void> struct HasSkipped1 : std::false_type {};
    template <typename Record> struct HasSkipped1<Record, std::void_t<decltype (Record::skipped1)>> : std::true_type {};
    template <typename Record, typename = void> struct HasSkipped2 : std::false_type {};
    template <typename Record> struct HasSkipped2<Record, std::void_t<decltype (Record::skipped2)>> : std::true_type {};

    template <typename Record>
    void clearSkippedBytes (Record& copy)
    {
        if constexpr (HasSkipped1<Record>::value)
            std::memset (&copy.skipped1, 0, sizeof (copy.skipped1));

        if constexpr (HasSkipped2<Record>::value)
            std::memset (&copy.skipped2, 0, sizeof (copy.skipped2));
    }

    template <typename Record>
    void applyValueRules (Record&) {}

    void applyValueRules (Record0002& copy)
    {
        if (copy.field1 == 0xFFFF)
            copy.field1 = 0;
    }

    void applyValueRules (Record000F& copy)
    {
        copy.field3 = (uint16) (copy.field3 & 0x7FF);
    }

    enum class LengthField { fixed, asReceived };

    /** Builds the fixed-layout copy of a record and delivers it to every listener. */
    template <typename Record, void (DataListener::*deliver) (const void*, int), LengthField lengthField = LengthField::fixed>
    void deliverCopy (void* record, int, GuardedListenerList<DataListener>& listeners)
    {
        Record copy {};
        std::memcpy (&copy, record, sizeof (Header));

        if (dataEnabled())
        {
            std::memcpy (&copy, record, sizeof (Record));
            clearSkippedBytes (copy);
            applyValueRules (copy);
        }

        if (lengthField == LengthField::fixed)
            copy.length = (uint16) payloadSize<Record>();

        listeners.call ([&copy] (DataListener& listener) { (listener.*deliver) (&copy, 0); });
    }

    void deliverDeviceInformation (void* record, int, GuardedListenerList<DataListener>& listeners)
    {
        Record2001 values {};

        if (dataEnabled())
            std::memcpy (&values, record, sizeof (values));

        const int state = values.deviceState;
        KRMIDIDeviceManager::getInstance()->setDeviceType (values.modelType);
        listeners.call ([state] (DataListener& listener) { listener.deviceState (state); });
    }

    void ignoreRecord (void*, int, GuardedListenerList<DataListener>&) {}
}

//==============================================================================
ReceivedMsgHandle* ReceivedMsgHandle::getInstance()
{
    if (instance == nullptr)
    {
        auto* dispatcher = new ReceivedMsgHandle();

        {
            const juce::SpinLock::ScopedLockType lock (dispatcher->handlerLock);
            CPackTrans::getInstance()->addReceiver (&dispatcher->getReceiver());
        }

        instance = dispatcher;
    }

    return instance;
}

ReceivedMsgHandle::ReceivedMsgHandle()
{
    registerRecordTable();
}

void ReceivedMsgHandle::deleteInstance()
{
    delete instance;
}

ReceivedMsgHandle::~ReceivedMsgHandle()
{
    if (instance == this)
        instance = nullptr;
}

void ReceivedMsgHandle::addListener (DataListener* listener)
{
    listeners.add (listener);
}

void ReceivedMsgHandle::removeListener (DataListener* listener)
{
    listeners.remove (listener);
}

void ReceivedMsgHandle::registerHandler (int type, int payloadSize, RecordHandler handler)
{
    const juce::SpinLock::ScopedLockType lock (handlerLock);
    handlers.emplace (type, RegisteredHandler { payloadSize, std::move (handler) });
}

void ReceivedMsgHandle::registerRecordTable()
{
    using LF = LengthField;

    registerHandler (0x0000, payloadSize<Record0000>(), deliverCopy<Record0000, &DataListener::receivedRecord0000>);
    registerHandler (0x1002, payloadSize<Record1002>(), deliverCopy<Record1002, &DataListener::receivedRecord1002>);
    registerHandler (0x1001, payloadSize<Record1001>(), deliverCopy<Record1001, &DataListener::receivedRecord1001>);
    registerHandler (0x1004, payloadSize<Record1004>(), deliverCopy<Record1004, &DataListener::receivedRecord1004>);
    registerHandler (0x1005, payloadSize<Record1005>(), deliverCopy<Record1005, &DataListener::receivedRecord1005>);
    registerHandler (0x1008, payloadSize<Record1008>(), deliverCopy<Record1008, &DataListener::receivedRecord1008>);
    registerHandler (0x1007, payloadSize<Record1007>(), deliverCopy<Record1007, &DataListener::receivedRecord1007>);
    registerHandler (0x000F, payloadSize<Record000F>(), deliverCopy<Record000F, &DataListener::receivedRecord000F>);
    registerHandler (0x000C, payloadSize<Record000C>(), deliverCopy<Record000C, &DataListener::receivedRecord000C>);
    registerHandler (0x000E, payloadSize<Record000E>(), deliverCopy<Record000E, &DataListener::receivedRecord000E>);
    registerHandler (0x000D, payloadSize<Record000D>(), deliverCopy<Record000D, &DataListener::receivedRecord000D>);
    registerHandler (0x0010, payloadSize<Record0010>(), deliverCopy<Record0010, &DataListener::receivedRecord0010>);
    registerHandler (0x0015, payloadSize<Record0015>(), deliverCopy<Record0015, &DataListener::receivedRecord0015>);
    registerHandler (0x0016, payloadSize<Record0016>(), deliverCopy<Record0016, &DataListener::receivedRecord0016>);
    registerHandler (0x0005, payloadSize<Record0005>(), deliverCopy<Record0005, &DataListener::receivedRecord0005>);
    registerHandler (0x0006, payloadSize<Record0006>(), deliverCopy<Record0006, &DataListener::receivedRecord0006>);
    registerHandler (0x0007, payloadSize<Record0007>(), deliverCopy<Record0007, &DataListener::receivedRecord0007>);
    registerHandler (0x0008, payloadSize<Record0008>(), deliverCopy<Record0008, &DataListener::receivedRecord0008>);
    registerHandler (0x0009, payloadSize<Record0009>(), deliverCopy<Record0009, &DataListener::receivedRecord0009>);
    registerHandler (0x000A, payloadSize<Record000A>(), deliverCopy<Record000A, &DataListener::receivedRecord000A>);
    registerHandler (0x000B, payloadSize<Record000B>(), deliverCopy<Record000B, &DataListener::receivedRecord000B>);
    registerHandler (0x0013, payloadSize<Record0013>(), deliverCopy<Record0013, &DataListener::receivedRecord0013>);
    registerHandler (0x2001, payloadSize<Record2001>(), deliverDeviceInformation);
    registerHandler (0x2002, 0, ignoreRecord);
    registerHandler (0x2003, payloadSize<Record2003>(), deliverCopy<Record2003, &DataListener::receivedRecord2003>);
    registerHandler (0x2005, payloadSize<Record2005>(), deliverCopy<Record2005, &DataListener::receivedRecord2005>);
    registerHandler (0x2006, payloadSize<Record2006>(), deliverCopy<Record2006, &DataListener::receivedRecord2006>);
    registerHandler (0x100C, payloadSize<Record100C>(), deliverCopy<Record100C, &DataListener::receivedRecord100C>);
    registerHandler (0x1009, payloadSize<Record1009>(), deliverCopy<Record1009, &DataListener::receivedRecord1009>);
    registerHandler (0x100B, payloadSize<Record100B>(), deliverCopy<Record100B, &DataListener::receivedRecord100B, LF::asReceived>);
    registerHandler (0x1000, payloadSize<Record1000>(), deliverCopy<Record1000, &DataListener::receivedRecord1000>);
    registerHandler (0x1011, payloadSize<Record1011>(), deliverCopy<Record1011, &DataListener::receivedRecord1011, LF::asReceived>);
    registerHandler (0x0002, payloadSize<Record0002>(), deliverCopy<Record0002, &DataListener::receivedRecord0002>);
    registerHandler (0x0014, payloadSize<Record0014>(), deliverCopy<Record0014, &DataListener::receivedRecord0014>);
    registerHandler (0x100D, payloadSize<Record100D>(), deliverCopy<Record100D, &DataListener::receivedRecord100D>);
    registerHandler (0x100E, payloadSize<Record100E>(), deliverCopy<Record100E, &DataListener::receivedRecord100E>);
    registerHandler (0x100F, payloadSize<Record100F>(), deliverCopy<Record100F, &DataListener::receivedRecord100F>);

    jassert (handlers.size() == numRecordTypes);
}

//==============================================================================
void ReceivedMsgHandle::handlePacket (const juce::uint8* data, int length)
{
    if (data == nullptr || length < 0)
        return;

    // Records point into this copy while their handlers run.
    std::vector<juce::uint8> packet (data, data + length);

    MessageThreadLock lock;

    if (! lock.lockWasGained())
        return;

    int value1 = -1, value2 = -2;
    juce::Array<int> recordTypes;

    // A record is taken only when its header, its declared payload and the fixed layout
    // of its handler all lie inside the packet; the walk ends at the first that does not.
    for (int offset = 0; offset + (int) sizeof (Header) <= length;)
    {
        auto* record = packet.data() + offset;
        const int type = readU16 (record);
        const int recordLength = readU16 (record + 2);
        const int available = length - offset - (int) sizeof (Header);

        if (recordLength > available)
            break;

        const juce::SpinLock::ScopedLockType handlerScope (handlerLock);
        const auto found = handlers.find (type);

        if (found != handlers.end() && found->second.payloadSize > available)
            break;

        std::printf ("type:%04X,len:%d\n", type, recordLength);

        if (type == 0)
        {
            const bool enabled = dataEnabled();
            value2 = enabled ? readU16 (record + 4) : 0;
            value1 = enabled ? readU16 (record + 6) : 0;
        }

        recordTypes.add (type);

        if (found != handlers.end())
            found->second.handler (record, recordLength, listeners);

        offset += recordLength + (int) sizeof (Header);
    }

    packet.clear();

    listeners.call ([&] (DataListener& listener)
    {
        listener.packetDecoded (length, value1, value2, juce::Array<int> (recordTypes), 0);
    });
}

void ReceivedMsgHandle::systemReply (const juce::uint8* data, int length)
{
    constexpr int addressEnd = WireFormat::wireAddressIndex + (int) sizeof (WireFormat::softwareStateAddress);

    if (data == nullptr || length < addressEnd
         || std::memcmp (data + WireFormat::wireAddressIndex, WireFormat::softwareStateAddress,
                         sizeof (WireFormat::softwareStateAddress)) != 0)
        return;

    int state = 0;

    if (length == 16)
    {
        ConstVar::getInstance()->deviceKind = data[WireFormat::wireKindIndex];
        state = data[WireFormat::wireStateIndex];
    }
    else if (length == 15)
    {
        state = data[WireFormat::wireStateIndex];
    }

    listeners.call ([state] (DataListener& listener) { listener.deviceState (state); });
}

void ReceivedMsgHandle::sysExReply (const juce::uint8* data, int length)
{
    listeners.call ([=] (DataListener& listener) { listener.sysExMessage (length, data, 0); });
}

void ReceivedMsgHandle::sendProgress (int offset, int total)
{
    listeners.call ([=] (DataListener& listener) { listener.sendProgress (offset, total); });
}
