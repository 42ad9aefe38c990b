#include "tests/support/UpdateRoad.h"

#include "device/ConstVar.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "device/PresetManager.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/TrafficSingletons.h"

UpdateRoad::UpdateRoad (const juce::String& portName)
    : device (portName, portName)
{
    deleteTrafficSingletons();

    auto* hub = PresetManager::getInstance();
    KRMIDIDeviceManager::getInstance()->addConnectionListener (hub);
    MIDIManager::getInstance()->stopTimer();

    engine = std::make_unique<FirmwareUpdate>();
    engine->senders.addIfNotAlreadyThere (hub);
    hub->addUpdateListener (engine->asUpdateListener());
    engine->setCommandTarget (&target);
    engine->resetUpdate();
}

UpdateRoad::~UpdateRoad()
{
    engine.reset();
    deleteTrafficSingletons();
}

bool UpdateRoad::connect()
{
    auto* manager = MIDIManager::getInstance();

    for (int tick = 0; tick < 30 && ! manager->getPortPair().hasOutput(); ++tick)
        manager->timerCallback();

    manager->isCanSendUserMsg = true;
    return manager->getPortPair().hasOutput();
}

bool UpdateRoad::start (const FirmwareFileBuilder& builder)
{
    file = builder.writeTemporary();
    return start (file->getFile());
}

bool UpdateRoad::start (const juce::File& firmwareFile)
{
    return engine->startUpdate (firmwareFile, ConstVar::getInstance()->isFullSizeModel);
}

bool UpdateRoad::waitFor (int commandId, int timeoutMs)
{
    return target.waitFor (commandId, timeoutMs);
}

bool UpdateRoad::waitForState (int updatingState, int timeoutMs)
{
    return pumpMessagesUntil ([this, updatingState] { return engine->getUpdatingState() == updatingState; },
                              timeoutMs);
}

void UpdateRoad::expire()
{
    engine->timerCallback (FirmwareUpdate::replyTimerId);
}
