#include "tests/support/TrafficSingletons.h"

#include "device/CPackTrans.h"
#include "device/PresetManager.h"
#include "device/ReceivedMsgHandle.h"
#include "device/SendMsgHander.h"
#include "tests/support/DeviceLinkSingletons.h"

void deleteTrafficSingletons()
{
    SendMsgHander::deleteInstance();        // its pump tick would build a new transport
    deleteDeviceLinkSingletons();           // closes the ports: no delivery runs after this
    CPackTrans::deleteInstance();
    ReceivedMsgHandle::deleteInstance();
    PresetManager::deleteInstance();
}
