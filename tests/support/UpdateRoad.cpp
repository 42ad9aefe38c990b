#include "tests/support/UpdateRoad.h"

#include "device/ConstVar.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "device/PresetManager.h"
#include "tests/support/TrafficSingletons.h"

UpdateRoad::UpdateRoad (const juce::String& portName) : device (portName, portName)
{
    deleteTrafficSingletons();
    KRMIDIDeviceManager::getInstance()->addConnectionListener (PresetManager::getInstance());
    MIDIManager::getInstance()->stopTimer();
    engine = std::make_unique<FirmwareUpdate>();
    engine->senders.add (PresetManager::getInstance());
    PresetManager::getInstance()->addUpdateListener (engine->asUpdateListener());
    engine->setCommandTarget (&target);
}

UpdateRoad::~UpdateRoad()
{
    engine.reset();
    deleteTrafficSingletons();
}

bool UpdateRoad::connect()
{
    auto* manager = MIDIManager::getInstance();
    auto open = [manager] { return manager->getPortPair().hasOutput() && manager->getPortPair().hasInput(); };

    for (int tick = 0; tick < 60 && ! open(); ++tick)
        manager->timerCallback();

    manager->isCanSendUserMsg = true;
    return open();
}

bool UpdateRoad::start (const juce::File& firmwareFile)
{
    return engine->startUpdate (firmwareFile, ConstVar::getInstance()->isFullSizeModel);
}
