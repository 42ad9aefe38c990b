#pragma once

#include "device/COMMReciverListener.h"

#include <juce_core/juce_core.h>

/** The device link's send interface, with the receivers of what comes back. */
class COMMIntf
{
public:
    virtual ~COMMIntf() = default;

    /** Sends one frame: the first `length` bytes of `frame`, without F0 and F7.
        Returns the number of bytes handed on.
    */
    virtual int send (const juce::Array<juce::uint8>& frame, int length) = 0;

    /** Adds a receiver unless it is already there. */
    void addReceiver (COMMReciverListener* receiver)    { receivers.addIfNotAlreadyThere (receiver); }
    void removeReceiver (COMMReciverListener* receiver) { receivers.removeFirstMatchingValue (receiver); }

protected:
    juce::Array<COMMReciverListener*> receivers;
};
