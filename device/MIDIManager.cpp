#include "device/MIDIManager.h"

#include "device/FsmActions.h"
#include "device/MIDIPortPair.h"

#include <cstdio>

namespace
{
    // Bytes between F0 and F7. The signature 21 25 7E "MZ-" 0A opens every frame.
    const juce::uint8 deviceInformationRequest[] { 0x21, 0x25, 0x7E, 'M', 'Z', '-', 0x0A,
                                                   0x11, 0x04, 0x00, 0x00, 0x00, 0x00, 0x01,
                                                   0x02, 0x00, 0x00, 0x00, 0x00, 0x00 };

    const juce::uint8 softwareStateRead[] { 0x21, 0x25, 0x7E, 'M', 'Z', '-', 0x0A,
                                            0x11, 0x12, 0x00, 0x00, 0x00 };

    template <size_t size>
    juce::MidiMessage makeSysEx (const juce::uint8 (&body)[size])
    {
        juce::uint8 bytes[size + 2];
        bytes[0] = 0xF0;
        std::copy (body, body + size, bytes + 1);
        bytes[size + 1] = 0xF7;
        return juce::MidiMessage (bytes, (int) sizeof (bytes), 0.0);
    }
}

MIDIManager* MIDIManager::instance = nullptr;

MIDIManager::MIDIManager()
{
    fsm.setTransition (stateSearching,    evPortsFound,  stateConnected,    fsmConnect);
    fsm.setTransition (stateSearching,    evTick,        stateSearching,    fsmScanDevices);
    fsm.setTransition (stateConnected,    evSendSysEx,   stateConnected,    fsmSend);
    fsm.setTransition (stateConnected,    evDeviceLost,  stateDisconnected, fsmDisconnect);
    fsm.setTransition (stateConnected,    evCloseDevice, stateDisconnected, fsmDisconnect);
    fsm.setTransition (stateConnected,    evMidiIn,      stateBusy,         fsmDeliver);
    fsm.setTransition (stateConnected,    evTick,        stateConnected,    fsmCheckPresence);
    fsm.setTransition (stateBusy,         evMidiIn,      stateBusy,         fsmDeliver);
    fsm.setTransition (stateBusy,         evSendSysEx,   stateBusy,         fsmSend);
    fsm.setTransition (stateBusy,         evDone,        stateIdle,         fsmNoAction);
    fsm.setTransition (stateBusy,         evCloseDevice, stateBusy,         fsmCloseIgnored);
    fsm.setTransition (stateBusy,         evTick,        stateBusy,         fsmCheckPresence);
    fsm.setTransition (stateIdle,         evDeviceLost,  stateDisconnected, fsmDisconnect);
    fsm.setTransition (stateIdle,         evCloseDevice, stateDisconnected, fsmDisconnect);
    fsm.setTransition (stateIdle,         evMidiIn,      stateBusy,         fsmDeliver);
    fsm.setTransition (stateIdle,         evSendSysEx,   stateBusy,         fsmSend);
    fsm.setTransition (stateIdle,         evTick,        stateIdle,         fsmCheckPresence);
    fsm.setTransition (stateDisconnected, evTick,        stateDisconnected, fsmBackOff);
    fsm.setTransition (stateDisconnected, evDone,        stateSearching,    fsmNoAction);

    fsm.setCurrentState (stateSearching);
    isCanSendUserMsg = false;

    fsm.setPortPair (std::make_unique<MIDIPortPair> (fsm.getPortCallback()));
}

MIDIManager::~MIDIManager()
{
    stopTimer();
    delayedRequests.clear();
    instance = nullptr;
}

MIDIManager* MIDIManager::getInstance()
{
    if (instance == nullptr)
        instance = new MIDIManager();

    return instance;
}

void MIDIManager::deleteInstance()
{
    delete instance;
}

void MIDIManager::timerCallback()
{
    fsm.fireEvent (evTick, nullptr);
}

/** One pending device-state request: fires once, after the delay, on the message thread. */
class MIDIManager::DelayedRequest final : private juce::Timer
{
public:
    explicit DelayedRequest (MIDIManager& m) : manager (m)  { startTimer (deviceStateDelayMs); }
    ~DelayedRequest() override                               { stopTimer(); }

private:
    void timerCallback() override
    {
        stopTimer();
        manager.runDelayedRequest (this);   // deletes this request
    }

    MIDIManager& manager;
};

void MIDIManager::sendDeviceState()
{
    delayedRequests.add (new DelayedRequest (*this));
}

void MIDIManager::runDelayedRequest (DelayedRequest* request)
{
    delayedRequests.removeObject (request);
    sendDeviceStateNow();
}

void MIDIManager::sendDeviceStateNow()
{
    std::printf ("set isCanSendUserMsg:%d \n", 1);
    isCanSendUserMsg = true;

    for (auto byte : deviceInformationRequest)
        std::printf ("%02X,", byte);

    std::printf ("\n");
    std::fflush (stdout);

    getPortPair().sendMessage (makeSysEx (deviceInformationRequest));

    juce::Thread::sleep (deviceStateFramePauseMs);

    std::printf ("ADDR_SYS_SOFTWARE_STATE:");

    for (size_t i = 0; i < std::size (softwareStateRead); ++i)
    {
        std::printf ("%02x,", softwareStateRead[i]);

        if (i == 7 || i == 11)
            std::printf (" ");
    }

    std::printf ("\n");
    std::fflush (stdout);

    getPortPair().sendMessage (makeSysEx (softwareStateRead));
}
