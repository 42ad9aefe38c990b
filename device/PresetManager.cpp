#include "device/PresetManager.h"

#include "device/ConstVar.h"
#include "device/NotificationWalk.h"
#include "device/ReceivedMsgHandle.h"
#include "device/SendMsgHander.h"

PresetManager* PresetManager::instance = nullptr;

namespace
{
    enum ConnectionState
    {
        connected = 1,
        answered = 2,
        disconnected = 4
    };

    enum Direction
    {
        fromDevice = 0,
        towardDevice = 1
    };
}

PresetManager* PresetManager::getInstance()
{
    if (instance == nullptr)
    {
        auto* hub = new PresetManager();

        ConstVar::getInstance()->dataEnabled = true;
        ReceivedMsgHandle::getInstance()->addListener (hub);
        hub->addSendListener (SendMsgHander::getInstance());

        instance = hub;
    }

    return instance;
}

PresetManager::PresetManager() = default;

void PresetManager::deleteInstance()
{
    delete instance;
}

PresetManager::~PresetManager()
{
    {
        const juce::ScopedWriteLock lock (uiListenersLock);
        uiListeners.clear();
    }

    if (instance == this)
        instance = nullptr;

    const juce::ScopedWriteLock lock (sendListenersLock);
    sendListeners.clear();
}

//==============================================================================
// Walks hold the read side of their list's lock for the whole walk, so walks on
// different threads never wait for each other; changes take the write side (granted
// to a thread that is itself the only one walking, so a listener may remove itself).
void PresetManager::addUpdateListener (UpdateUIListener* listener)
{
    const juce::ScopedWriteLock lock (uiListenersLock);
    uiListeners.addIfNotAlreadyThere (listener);
}

void PresetManager::removeUpdateListener (UpdateUIListener* listener)
{
    const juce::ScopedWriteLock lock (uiListenersLock);
    uiListeners.removeFirstMatchingValue (listener);
}

void PresetManager::addSendListener (SendMsgListener* listener)
{
    const juce::ScopedWriteLock lock (sendListenersLock);
    sendListeners.addIfNotAlreadyThere (listener);
}

void PresetManager::removeSendListener (SendMsgListener* listener)
{
    const juce::ScopedWriteLock lock (sendListenersLock);
    sendListeners.removeFirstMatchingValue (listener);
}

template <typename Call>
void PresetManager::notifyUpdateListeners (Call&& call)
{
    const juce::ScopedReadLock lock (uiListenersLock);
    notifyFromLastToFirst (uiListeners, std::forward<Call> (call));
}

template <typename Call>
void PresetManager::notifySendListeners (Call&& call)
{
    const juce::ScopedReadLock lock (sendListenersLock);
    notifyFromLastToFirst (sendListeners, std::forward<Call> (call));
}

//==============================================================================
void PresetManager::deviceConnected()
{
    connectionState = connected;
    notifyUpdateListeners ([] (UpdateUIListener& listener) { listener.deviceConnected(); });
}

void PresetManager::deviceDisconnected()
{
    connectionState = disconnected;
    notifyUpdateListeners ([] (UpdateUIListener& listener) { listener.deviceDisconnected(); });
}

void PresetManager::deviceCloseIgnored()
{
    notifyUpdateListeners ([] (UpdateUIListener& listener) { listener.deviceCloseIgnored(); });
}

void PresetManager::closeDevice()
{
    notifySendListeners ([] (SendMsgListener& sender) { sender.closeDevice(); });
    requestHandled = true;
}

void PresetManager::deviceState (int state)
{
    connectionState = answered;
    notifyUpdateListeners ([state, this] (UpdateUIListener& listener) { listener.deviceState (state, deviceStateFlag); });
    requestHandled = true;
}

void PresetManager::requestRecord2002()
{
    notifySendListeners ([] (SendMsgListener& sender) { sender.requestRecord2002(); });
    requestHandled = true;
}

void PresetManager::softwareJump()
{
    notifySendListeners ([] (SendMsgListener& sender) { sender.softwareJump(); });
    notifySendListeners ([] (SendMsgListener& sender) { sender.closeDevice(); });
    requestHandled = true;
}

void PresetManager::sysExMessage (int length, const juce::uint8* data, int direction)
{
    if (direction == towardDevice)
        notifySendListeners ([=] (SendMsgListener& sender) { sender.sendSysEx (data, length); });
    else if (direction == fromDevice)
        notifyUpdateListeners ([=] (UpdateUIListener& listener) { listener.deviceReply (length, data); });
}

void PresetManager::sendProgress (int, int)
{
    requestHandled = true;
}
