#pragma once

#include <juce_core/juce_core.h>

/** What the hub reports to the user side. Every operation has an empty default body.

    deviceState and deviceReply may arrive on the MIDI input thread.
*/
class UpdateUIListener
{
public:
    virtual ~UpdateUIListener() = default;

    virtual void deviceConnected() {}
    virtual void deviceState (int /*state*/, bool /*flag*/) {}
    virtual void deviceDisconnected() {}
    virtual void deviceCloseIgnored() {}

    /** A raw reply of the update protocol, F0 ... F7 included. */
    virtual void deviceReply (int /*length*/, const juce::uint8* /*data*/) {}
};
