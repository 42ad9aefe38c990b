#pragma once

#include "device/SendMsgListener.h"
#include "device/SendMsgThread.h"

#include <juce_audio_basics/juce_audio_basics.h>

/** The hub's sender: queues the record requests on the packet transport, passes the
    close request to the device manager, and hands the jump frames and raw SysEx to the
    connection state machine while the device link allows user messages.
*/
class SendMsgHander : public juce::DeletedAtShutdown,
                      public SendMsgListener
{
public:
    /** The one sender; the first call starts the thread that starts the send pump. */
    static SendMsgHander* getInstance();

    /** Deletes the instance, if any; the next getInstance builds a fresh one. */
    static void deleteInstance();

    ~SendMsgHander() override;

    void requestRecord2002() override;
    void requestRecord1006() override;
    void closeDevice() override;

    /** The jump request packet, then the jump address frame (with its diagnostic line). */
    void softwareJump() override;

    /** Sends F0, the bytes, F7. */
    void sendSysEx (const juce::uint8* data, int length) override;

private:
    SendMsgHander();

    static void sendToStateMachine (const juce::uint8* bytes, int numBytes);

    SendMsgThread thread;

    static SendMsgHander* instance;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SendMsgHander)
};
