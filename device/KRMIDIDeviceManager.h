#pragma once

#include "device/MIDIDeviceInterfaceListener.h"
#include "device/MIDIDeviceListener.h"

#include <juce_events/juce_events.h>

/** The connection state machine's one connection listener: passes connection events on to
    its own listeners, closes the device on request and records the device type. Its
    creation starts the state machine's 100 ms tick.
*/
class KRMIDIDeviceManager : public juce::DeletedAtShutdown,
                            public MIDIDeviceListener
{
public:
    ~KRMIDIDeviceManager() override;

    static KRMIDIDeviceManager* getInstance();

    /** Deletes the instance, if any; the next getInstance builds a fresh one. */
    static void deleteInstance();

    /** 0 connected, 1 disconnected, 2 close ignored; other values are only printed. */
    void conectEvent (int event) override;

    /** Closes the port pair, then fires the state machine's close event. */
    void closeDevice();

    /** Model types 3 and 4 leave ConstVar::deviceKind alone; any other sets it to 2. */
    void setDeviceType (int type);

    /** Adds the listener unless it is already there. Message thread only. */
    void addConnectionListener (MIDIDeviceInterfaceListener* listener);

    int getNumConnectionListeners() const noexcept  { return connectionListeners.size(); }

private:
    KRMIDIDeviceManager();

    juce::Array<MIDIDeviceInterfaceListener*> connectionListeners;

    static KRMIDIDeviceManager* instance;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KRMIDIDeviceManager)
};
