#include "tests/support/TrafficSingletons.h"

#include "device/CPackTrans.h"
#include "device/ConstVar.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/PresetManager.h"
#include "device/ReceivedMsgHandle.h"
#include "device/SendMsgHander.h"

void deleteTrafficSingletons()
{
    SendMsgHander::deleteInstance();        // its pump tick would build a new transport
    KRMIDIDeviceManager::deleteInstance();  // the device link, newest first: closes the ports, so no delivery runs after this
    MIDIManager::deleteInstance();
    ConstVar::deleteInstance();
    CPackTrans::deleteInstance();
    ReceivedMsgHandle::deleteInstance();
    PresetManager::deleteInstance();
}
