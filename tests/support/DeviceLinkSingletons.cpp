#include "tests/support/DeviceLinkSingletons.h"

#include "device/ConstVar.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"

void deleteDeviceLinkSingletons()
{
    KRMIDIDeviceManager::deleteInstance();
    MIDIManager::deleteInstance();
    ConstVar::deleteInstance();
}
