#pragma once

/** The device manager's connection events, as its listeners receive them. */
class MIDIDeviceInterfaceListener
{
public:
    virtual ~MIDIDeviceInterfaceListener() = default;

    virtual void deviceConnected() {}
    virtual void deviceDisconnected() {}
    virtual void deviceCloseIgnored() {}
};
