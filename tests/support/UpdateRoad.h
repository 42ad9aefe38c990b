#pragma once

#include "firmware/FirmwareUpdate.h"
#include "tests/support/FirmwareFileBuilder.h"
#include "tests/support/UpdateCommandRecorder.h"
#include "tests/support/VirtualUpdatePeer.h"

/** The whole road of an update: a virtual device speaking the protocol, fresh device-link
    singletons (their 100 ms tick stopped) and an engine wired to the hub as the main component
    wires it, with a recorder as its command target.
*/
class UpdateRoad
{
public:
    explicit UpdateRoad (const juce::String& portName = "Norvo");
    ~UpdateRoad();

    /** Ticks until both ports are open and opens the gate for user messages. */
    bool connect();

    /** Starts the update for the model that the port scan found. */
    bool start (const FirmwareFileBuilder& builder)        { file = builder.writeTemporary(); return start (file->getFile()); }
    bool start (const juce::File& firmwareFile);

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
