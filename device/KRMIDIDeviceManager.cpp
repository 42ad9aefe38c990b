#include "device/KRMIDIDeviceManager.h"

#include "device/ConstVar.h"
#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"

#include <cstdio>

KRMIDIDeviceManager* KRMIDIDeviceManager::instance = nullptr;

KRMIDIDeviceManager::KRMIDIDeviceManager()
{
    auto* manager = MIDIManager::getInstance();
    manager->getStateMachine().addDeviceListener (this);
    manager->startTimer (MIDIManager::tickIntervalMs);
}

KRMIDIDeviceManager::~KRMIDIDeviceManager()
{
    instance = nullptr;
}

KRMIDIDeviceManager* KRMIDIDeviceManager::getInstance()
{
    if (instance == nullptr)
        instance = new KRMIDIDeviceManager();

    return instance;
}

void KRMIDIDeviceManager::deleteInstance()
{
    delete instance;
}

void KRMIDIDeviceManager::conectEvent (int event)
{
    std::printf ("conectevent event :%d\n", event);
    std::fflush (stdout);

    void (MIDIDeviceInterfaceListener::*operation)() = nullptr;

    switch (event)
    {
        case 0:  operation = &MIDIDeviceInterfaceListener::deviceConnected;    break;
        case 1:  operation = &MIDIDeviceInterfaceListener::deviceDisconnected; break;
        case 2:  operation = &MIDIDeviceInterfaceListener::deviceCloseIgnored; break;
        default: return;
    }

    // From the last listener to the first; a listener may remove itself during its call.
    for (int i = connectionListeners.size(); --i >= 0;)
    {
        (connectionListeners.getUnchecked (i)->*operation)();
        i = juce::jmin (i, connectionListeners.size());
    }
}

void KRMIDIDeviceManager::closeDevice()
{
    auto* manager = MIDIManager::getInstance();
    manager->getPortPair().close();
    manager->getStateMachine().fireEvent (evCloseDevice, nullptr);
}

void KRMIDIDeviceManager::setDeviceType (int type)
{
    if (type != 3 && type != 4)
        ConstVar::getInstance()->deviceKind = 2;
}

void KRMIDIDeviceManager::addConnectionListener (MIDIDeviceInterfaceListener* listener)
{
    connectionListeners.addIfNotAlreadyThere (listener);
}
