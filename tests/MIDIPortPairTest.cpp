#include "device/OneButtonAlert.h"
#include "tests/support/DeviceLinkFixture.h"

#include <thread>

namespace
{
    bool waitUntil (const std::function<bool()>& condition, int timeoutMs = 3000)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (! condition())
        {
            if (juce::Time::getMillisecondCounter() > deadline)
                return false;

            juce::Thread::sleep (2);
        }

        return true;
    }
}

class PortPair : public DeviceLinkFixture
{
protected:
    void SetUp() override
    {
        DeviceLinkFixture::SetUp();
        connect();
    }

    void TearDown() override
    {
        device->setWriteBlocked (false);
        EXPECT_TRUE (waitForNoSendsInFlight());
        DeviceLinkFixture::TearDown();
    }

    bool waitForNoSendsInFlight()
    {
        return waitUntil ([this] { return portPair().getSendsInFlight() == 0; });
    }

    void sendMessages (int count)
    {
        for (int i = 0; i < count; ++i)
            portPair().sendMessage (frame());
    }
};

TEST_F (PortPair, SendMessageWritesACopyOnAnotherThreadAndNeedsBothPorts)
{
    std::thread::id writer;
    device->setOnMessageWritten ([&writer] (const juce::MidiMessage&) { writer = std::this_thread::get_id(); });

    {
        auto message = frame();
        portPair().sendMessage (message);
    }

    ASSERT_TRUE (device->waitForWritten (1));
    EXPECT_TRUE (waitForNoSendsInFlight());
    EXPECT_NE (writer, std::this_thread::get_id());
    EXPECT_EQ (device->getWrittenMessages()[0].message.getRawDataSize(), 5);

    device->setRefuseInputOpen (true);
    ASSERT_FALSE (portPair().openInput());
    ASSERT_TRUE (portPair().hasOutput());
    sendMessages (1);
    juce::Thread::sleep (30);
    EXPECT_EQ (device->getNumWritten(), 1);
    EXPECT_EQ (portPair().getSendsInFlight(), 0);
}

TEST_F (PortPair, ASixthSendWhileFiveAreInFlightIsDroppedAndAPlaceFreesUpWhenOneEnds)
{
    device->setWriteBlocked (true);
    sendMessages (6);

    EXPECT_EQ (portPair().getSendsInFlight(), 5);
    ASSERT_TRUE (waitUntil ([&] { return device->getNumBlockedWrites() == 5; }));
    juce::Thread::sleep (20);
    EXPECT_EQ (device->getNumBlockedWrites(), 5);

    device->setWriteBlocked (false);
    ASSERT_TRUE (device->waitForWritten (5));
    ASSERT_TRUE (waitForNoSendsInFlight());
    juce::Thread::sleep (20);
    EXPECT_EQ (device->getNumWritten(), 5);

    sendMessages (1);
    EXPECT_TRUE (device->waitForWritten (6));
}

TEST_F (PortPair, AWatcherGivesUpABlockedWriteAtTheTimeLimitAndFreesItsPlace)
{
    portPair().setSendTimeLimit (50);
    device->setWriteBlocked (true);
    sendMessages (5);

    ASSERT_TRUE (waitForNoSendsInFlight());
    EXPECT_GE (device->getNumStopBackgroundThreadCalls(), 5);
    // The writes themselves are not interrupted (under load a sender may only now reach its write).
    EXPECT_TRUE (waitUntil ([&] { return device->getNumBlockedWrites() == 5; }));

    device->setWriteBlocked (false);
    EXPECT_TRUE (device->waitForWritten (5));
}

TEST_F (PortPair, AThrowingWriteOnTheSenderThreadHoldsItsPlaceUntilTheTimeLimit)
{
    portPair().setSendTimeLimit (150);
    device->setThrowOnWrite (true);

    const auto start = juce::Time::getMillisecondCounter();
    sendMessages (1);
    juce::Thread::sleep (40);
    EXPECT_EQ (portPair().getSendsInFlight(), 1);

    ASSERT_TRUE (waitForNoSendsInFlight());
    EXPECT_GE (juce::Time::getMillisecondCounter() - start, 150u);
    EXPECT_TRUE (portPair().hasOutput());   // a failed write on these threads does not close
}

TEST_F (PortPair, ClosingOrDestroyingThePairWhileSendsAreInFlightIsSafe)
{
    // Runs its worth under the sanitizers: the threads outlive the pair and its output.
    device->setWriteBlocked (true);
    sendMessages (5);

    portPair().close();
    EXPECT_FALSE (portPair().hasOutput());

    MIDIManager::deleteInstance();      // deletes the pair with five sends still running
    device->setWriteBlocked (false);
    EXPECT_TRUE (device->waitForWritten (5));

    // The last thread to finish releases the output.
    EXPECT_TRUE (waitUntil ([&] { return device->getNumOpenOutputs() == 0; }));
}

TEST_F (PortPair, AReconnectKeepsTheSameOutputAndACloseReleasesBothPorts)
{
    const auto stops = device->getNumStopBackgroundThreadCalls();
    fsm().setCurrentState (stateSearching);
    tick();
    EXPECT_EQ (state(), stateConnected);
    EXPECT_EQ (device->getNumStopBackgroundThreadCalls(), stops);
    EXPECT_EQ (device->getNumOpenOutputs(), 1);
    EXPECT_EQ (device->getNumOpenInputs(), 1);
    EXPECT_EQ (device->getNumStartedInputs(), 1);

    for (int i = 0; i < 2; ++i)     // the second close changes nothing
    {
        portPair().close();
        EXPECT_TRUE (portPair().getOutputName().isEmpty() && portPair().getInputName().isEmpty());
        EXPECT_EQ (device->getNumOpenInputs() + device->getNumOpenOutputs(), 0);
        EXPECT_GT (device->getNumStopBackgroundThreadCalls(), stops);
    }
}

TEST_F (PortPair, AFailedOpenShowsOneAlertPerPortAndStillReportsTheConnection)
{
    juce::StringArray alerts;
    setOneButtonAlertInterceptor ([&] (const juce::String& title, const juce::String& message,
                                       juce::AlertWindow::AlertIconType icon, const juce::String& button)
    {
        alerts.add (title + "|" + message + "|" + (icon == juce::AlertWindow::WarningIcon ? "warning" : "other")
                     + "|" + button);
    });

    const auto reconnect = [this]
    {
        closeDevice();
        fsm().fireEvent (evDone, nullptr);
        tick();
        EXPECT_EQ (state(), stateConnected);
        EXPECT_EQ (takeConnectionEvents(), (std::vector<int> { 1, 0 }));
    };

    device->setRefuseOutputOpen (true);
    reconnect();
    EXPECT_FALSE (portPair().hasOutput());
    EXPECT_TRUE (portPair().hasInput());
    ASSERT_EQ (alerts.size(), 1);
    EXPECT_EQ (alerts[0], "Device recognition failed, your Norvo may be occupied by other applications. "
                          "Please try to close related applications and try again.||warning|OK");

    // Sends are then dropped, and the machine stays connected.
    manager().isCanSendUserMsg = true;
    send (frame());
    EXPECT_EQ (device->getNumWritten(), 0);
    EXPECT_EQ (state(), stateConnected);

    device->setRefuseInputOpen (true);
    reconnect();
    EXPECT_EQ (alerts.size(), 3);
    EXPECT_FALSE (portPair().hasInput());
}
