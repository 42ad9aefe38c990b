#include "device/FsmActions.h"

#include "device/ConstVar.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIPortPair.h"
#include "device/MIDIUSBFsm.h"
#include "device/OneButtonAlert.h"

#include <atomic>

namespace
{
    std::atomic<int> backOffCount { 0 };

    MIDIUSBFsm& asFsm (void* fsm)
    {
        return *static_cast<MIDIUSBFsm*> (fsm);
    }

    int findFirstDeviceNamedNorvo (const juce::Array<juce::MidiDeviceInfo>& devices)
    {
        for (int i = 0; i < devices.size(); ++i)
            if (devices.getReference (i).name.contains ("Norvo"))
                return i;

        return -1;
    }

    void showConnectionFailedAlert()
    {
        showOneButtonAlert (juce::translate ("Device recognition failed, your Norvo may be occupied by other "
                                             "applications. Please try to close related applications and try again."),
                            {},
                            juce::AlertWindow::WarningIcon,
                            juce::translate ("OK"));
    }
}

void fsmScanDevices (void* fsm, void*)
{
    auto& stateMachine = asFsm (fsm);
    auto& pair = *stateMachine.getPortPair();
    auto& ports = MidiPorts::get();

    const auto outputs = ports.getOutputDevices();
    const auto outputIndex = findFirstDeviceNamedNorvo (outputs);

    if (outputIndex >= 0)
    {
        const auto name = outputs.getReference (outputIndex).name;
        ConstVar::getInstance()->isFullSizeModel = ! name.contains ("Norvo Mini");
        pair.setOutputDevice (outputIndex, name);
        KRMIDIDeviceManager::getInstance()->setDeviceType (2);
    }
    else
    {
        pair.setOutputDevice (-1, {});
    }

    const auto inputs = ports.getInputDevices();
    const auto inputIndex = findFirstDeviceNamedNorvo (inputs);

    if (inputIndex >= 0)
    {
        pair.setInputDevice (inputIndex, inputs.getReference (inputIndex).name);
        KRMIDIDeviceManager::getInstance()->setDeviceType (2);
    }
    else
    {
        pair.setInputDevice (-1, {});
    }

    if (outputIndex >= 0 && inputIndex >= 0)
        stateMachine.fireEvent (evPortsFound, nullptr);
}

void fsmConnect (void* fsm, void*)
{
    auto& stateMachine = asFsm (fsm);
    auto& pair = *stateMachine.getPortPair();

    if (! pair.openOutput())
        showConnectionFailedAlert();

    if (! pair.openInput())
        showConnectionFailedAlert();

    stateMachine.notifyDeviceListeners (0);
}

void fsmSend (void* fsm, void* payload)
{
    auto& stateMachine = asFsm (fsm);
    const auto message = *static_cast<const juce::MidiMessage*> (payload);

    try
    {
        stateMachine.getPortPair()->writeNow (message);
    }
    catch (...)
    {
        stateMachine.getPortPair()->close();
    }

    stateMachine.fireEvent (evDone, nullptr);
}

void fsmDeliver (void* fsm, void* payload)
{
    auto& stateMachine = asFsm (fsm);
    stateMachine.notifyMessageListeners (*static_cast<const juce::MidiMessage*> (payload));
    stateMachine.fireEvent (evDone, nullptr);
}

void fsmCheckPresence (void* fsm, void*)
{
    auto& stateMachine = asFsm (fsm);
    auto& pair = *stateMachine.getPortPair();

    if (pair.getInputIndex() == -1)
    {
        stateMachine.fireEvent (evDeviceLost, nullptr);
        return;
    }

    // The input's name is looked for among the outputs: the device lists both under one name.
    const auto inputName = pair.getInputName();

    for (const auto& device : MidiPorts::get().getOutputDevices())
        if (device.name.equalsIgnoreCase (inputName))
            return;

    stateMachine.fireEvent (evDeviceLost, nullptr);
}

void fsmDisconnect (void* fsm, void*)
{
    auto& stateMachine = asFsm (fsm);
    backOffCount = 0;
    stateMachine.getPortPair()->close();
    stateMachine.notifyDeviceListeners (1);
}

void fsmCloseIgnored (void* fsm, void*)
{
    asFsm (fsm).notifyDeviceListeners (2);
}

void fsmBackOff (void* fsm, void*)
{
    auto& stateMachine = asFsm (fsm);

    if (++backOffCount == backOffTicks)
    {
        backOffCount = 0;
        stateMachine.fireEvent (evDone, nullptr);
        return;
    }

    stateMachine.getPortPair()->close();
}

void fsmNoAction (void*, void*)
{
}
