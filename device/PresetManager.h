#pragma once

#include "device/DataListener.h"
#include "device/MIDIDeviceInterfaceListener.h"
#include "device/SendMsgListener.h"
#include "device/UpdateUIListener.h"

#include <juce_events/juce_events.h>

#include <atomic>

/** The hub between the device link and the user side.

    Connection events (from the device manager), the device state and the update
    protocol's replies (from the receive dispatcher) go on to the update listeners; raw
    SysEx toward the device and the requests of the user side go on to the senders.

    Both lists are walked from the last listener to the first, and a listener may remove
    itself during its call. Walks may run on the MIDI input thread; adding and removing
    wait until no walk on another thread is running, so a listener that has been removed
    is never called again and may be deleted right away.
*/
class PresetManager : public juce::DeletedAtShutdown,
                      public DataListener,
                      public MIDIDeviceInterfaceListener
{
public:
    /** The one hub; the first call builds it together with the device link's chain
        (device variables, receive dispatcher, packet transport, sender).
    */
    static PresetManager* getInstance();

    /** Deletes the instance, if any; the next getInstance builds a fresh one. */
    static void deleteInstance();

    /** A hub on its own, not linked to the device link's chain. */
    PresetManager();
    ~PresetManager() override;

    /** Each adds a pointer unless it is already there, or removes its first occurrence. */
    void addUpdateListener (UpdateUIListener* listener);
    void removeUpdateListener (UpdateUIListener* listener);
    void addSendListener (SendMsgListener* listener);
    void removeSendListener (SendMsgListener* listener);

    /** 0 until the first event; then 1 connected, 2 device answered, 4 disconnected. */
    int getConnectionState() const noexcept     { return connectionState; }
    bool isRequestHandled() const noexcept      { return requestHandled; }

    // MIDIDeviceInterfaceListener
    void deviceConnected() override;
    void deviceDisconnected() override;
    void deviceCloseIgnored() override;

    // DataListener
    void closeDevice() override;
    void deviceState (int state) override;
    void requestRecord2002() override;
    void softwareJump() override;
    void sysExMessage (int length, const juce::uint8* data, int direction) override;
    void sendProgress (int offset, int total) override;

private:
    template <typename Call> void notifyUpdateListeners (Call&& call);
    template <typename Call> void notifySendListeners (Call&& call);

    std::atomic<int> connectionState { 0 };
    std::atomic<bool> requestHandled { false };
    const bool deviceStateFlag = false;

    juce::Array<SendMsgListener*> sendListeners;
    juce::Array<UpdateUIListener*> uiListeners;
    juce::ReadWriteLock sendListenersLock, uiListenersLock;

    static PresetManager* instance;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PresetManager)
};
