#pragma once

#include "firmware/FirmwareUpdate.h"
#include "tests/support/FirmwareFileBuilder.h"
#include "tests/support/UpdateCommandRecorder.h"
#include "tests/support/VirtualUpdatePeer.h"

/** A virtual device speaking the update protocol, fresh device-link singletons (their tick stopped)
    and an engine wired to the hub as the main component wires it, posting to a recorder.
*/
class UpdateRoad
{
public:
    explicit UpdateRoad (const juce::String& portName = "Norvo");
    ~UpdateRoad();

    bool connect();   // ticks until both ports are open, and lets user messages through
    bool start (const FirmwareFileBuilder& builder)        { file = builder.writeTemporary(); return start (file->getFile()); }
    bool start (const juce::File& firmwareFile);          // for the model that the port scan found
    bool waitFor (int commandId, int timeoutMs = 10000)    { return target.waitFor (commandId, timeoutMs); }
    void expire()                                          { engine->timerCallback (FirmwareUpdate::replyTimerId); }

    VirtualMidiDevice device;
    VirtualUpdatePeer peer { device };
    UpdateCommandRecorder target;
    std::unique_ptr<FirmwareUpdate> engine;

private:
    VirtualMidiDevice::ScopedInstall install { device };
    std::unique_ptr<juce::TemporaryFile> file;
};
