#pragma once

/** Receives the connection state machine's connection events:
    0 connected, 1 disconnected, 2 close ignored (a close request while busy).
*/
class MIDIDeviceListener
{
public:
    virtual void conectEvent (int /*event*/) {}
    virtual ~MIDIDeviceListener() = default;
};
