#pragma once

#include "device/DataListener.h"
#include "device/GuardedListenerList.h"
#include "device/MIDIReciverListener.h"

#include <juce_events/juce_events.h>

#include <functional>
#include <map>

/** The receive dispatcher: splits complete data packets into their records and hands
    each to the handler registered for its type, which delivers a fixed-layout copy
    (device/Records.h) to the DataListeners. Also passes on the device state from the
    system reply, the update protocol's replies and the end of a queued send.
*/
class ReceivedMsgHandle : public juce::DeletedAtShutdown,
                          private MIDIReciverListener
{
public:
    /** (record, its declared payload length, listeners); record points at the record's type field. */
    using RecordHandler = std::function<void (void*, int, GuardedListenerList<DataListener>&)>;

    /** The one dispatcher, registered with the packet transport on the first call. */
    static ReceivedMsgHandle* getInstance();

    /** Deletes the instance, if any; the next getInstance builds a fresh one. */
    static void deleteInstance();

    /** A dispatcher with the full record table, not registered with the transport. */
    ReceivedMsgHandle();
    ~ReceivedMsgHandle() override;

    void addListener (DataListener* listener);

    /** Returns once no delivery on another thread can still reach the listener. */
    void removeListener (DataListener* listener);

    /** Registers a handler whose fixed layout reads `payloadSize` bytes of payload.
        A type that already has a handler keeps the first one.
    */
    void registerHandler (int type, int payloadSize, RecordHandler handler);

    /** The side that the packet transport delivers to. */
    MIDIReciverListener& getReceiver() noexcept     { return *this; }

    static constexpr int numRecordTypes = 37;

private:
    struct RegisteredHandler
    {
        int payloadSize;
        RecordHandler handler;
    };

    void handlePacket (const juce::uint8* data, int length) override;
    void systemReply (const juce::uint8* data, int length) override;
    void sysExReply (const juce::uint8* data, int length) override;
    void sendProgress (int offset, int total) override;

    void registerRecordTable();

    GuardedListenerList<DataListener> listeners;
    std::map<int, RegisteredHandler> handlers;
    juce::SpinLock handlerLock;

    static ReceivedMsgHandle* instance;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ReceivedMsgHandle)
};
