#include "device/SendMsgThread.h"

#include "device/CPackTrans.h"

SendMsgThread::SendMsgThread (const juce::String& threadName)
    : juce::Thread (threadName)
{
}

SendMsgThread::~SendMsgThread()
{
    // run() returns at once; waiting for it here keeps it from starting the timer
    // after the timer has been stopped.
    stopThread (1000);
    stopTimer();
}

void SendMsgThread::run()
{
    startTimer (pumpIntervalMs);
}

void SendMsgThread::timerCallback()
{
    CPackTrans::getInstance()->sendPump();
}
