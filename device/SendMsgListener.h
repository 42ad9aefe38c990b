#pragma once

#include <juce_core/juce_core.h>

/** What the hub asks of a sender. Every operation has an empty default body. */
class SendMsgListener
{
public:
    virtual ~SendMsgListener() = default;

    virtual void requestRecord2002() {}
    virtual void requestRecord1006() {}
    virtual void closeDevice() {}
    virtual void softwareJump() {}

    /** Raw SysEx bytes (without F0 and F7) to be sent to the device. */
    virtual void sendSysEx (const juce::uint8* /*data*/, int /*length*/) {}
};
