#include "device/OneButtonAlert.h"
#include "tests/support/DeviceLinkFixture.h"

#include <thread>

namespace
{
    const juce::MidiMessage frame()
    {
        const juce::uint8 bytes[] { 0xF0, 0x7E, 0x48, 0x01, 0xF7 };
        return juce::MidiMessage (bytes, (int) sizeof (bytes));
    }

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

    bool waitForNoSendsInFlight (MIDIPortPair& pair)
    {
        return waitUntil ([&pair] { return pair.getSendsInFlight() == 0; });
    }
}

class PortPair : public DeviceLinkFixture
{
protected:
    void TearDown() override
    {
        device->setWriteBlocked (false);
        EXPECT_TRUE (waitForNoSendsInFlight (portPair()));
        DeviceLinkFixture::TearDown();
    }
};

TEST_F (PortPair, SendMessageWritesACopyOnAnotherThread)
{
    connect();
    std::thread::id writer;
    device->setOnMessageWritten ([&writer] (const juce::MidiMessage&) { writer = std::this_thread::get_id(); });

    {
        auto message = frame();
        portPair().sendMessage (message);
    }

    ASSERT_TRUE (device->waitForWritten (1));
    EXPECT_TRUE (waitForNoSendsInFlight (portPair()));
    EXPECT_NE (writer, std::this_thread::get_id());
    EXPECT_EQ (device->getWrittenMessages()[0].message.getRawDataSize(), 5);
}

TEST_F (PortPair, SendMessageNeedsBothPorts)
{
    connect();
    device->setRefuseInputOpen (true);
    ASSERT_FALSE (portPair().openInput());
    ASSERT_TRUE (portPair().hasOutput());

    portPair().sendMessage (frame());
    juce::Thread::sleep (30);
    EXPECT_EQ (device->getNumWritten(), 0);
    EXPECT_EQ (portPair().getSendsInFlight(), 0);
}

TEST_F (PortPair, ASixthSendWhileFiveAreInFlightIsDroppedAndAPlaceFreesUpWhenOneEnds)
{
    connect();
    device->setWriteBlocked (true);

    for (int i = 0; i < 6; ++i)
        portPair().sendMessage (frame());

    EXPECT_EQ (portPair().getSendsInFlight(), 5);
    ASSERT_TRUE (waitUntil ([&] { return device->getNumBlockedWrites() == 5; }));

    juce::Thread::sleep (20);
    EXPECT_EQ (device->getNumBlockedWrites(), 5);

    device->setWriteBlocked (false);
    ASSERT_TRUE (device->waitForWritten (5));
    ASSERT_TRUE (waitForNoSendsInFlight (portPair()));
    juce::Thread::sleep (20);
    EXPECT_EQ (device->getNumWritten(), 5);

    portPair().sendMessage (frame());
    EXPECT_TRUE (device->waitForWritten (6));
}

TEST_F (PortPair, AWatcherGivesUpABlockedWriteAtTheTimeLimitAndFreesItsPlace)
{
    connect();
    portPair().setSendTimeLimit (50);
    device->setWriteBlocked (true);

    for (int i = 0; i < 5; ++i)
        portPair().sendMessage (frame());

    ASSERT_TRUE (waitForNoSendsInFlight (portPair()));
    EXPECT_GE (device->getNumStopBackgroundThreadCalls(), 5);
    // The writes themselves are not interrupted (under load a sender may only now reach its write).
    EXPECT_TRUE (waitUntil ([&] { return device->getNumBlockedWrites() == 5; }));

    device->setWriteBlocked (false);
    EXPECT_TRUE (device->waitForWritten (5));
}

TEST_F (PortPair, AThrowingWriteOnTheSenderThreadHoldsItsPlaceUntilTheTimeLimit)
{
    connect();
    portPair().setSendTimeLimit (150);
    device->setThrowOnWrite (true);

    const auto start = juce::Time::getMillisecondCounter();
    portPair().sendMessage (frame());
    juce::Thread::sleep (40);
    EXPECT_EQ (portPair().getSendsInFlight(), 1);

    ASSERT_TRUE (waitForNoSendsInFlight (portPair()));
    EXPECT_GE (juce::Time::getMillisecondCounter() - start, 150u);
    EXPECT_TRUE (portPair().hasOutput());   // a failed write on these threads does not close
}

TEST_F (PortPair, ClosingOrDestroyingThePairWhileSendsAreInFlightIsSafe)
{
    // Runs its worth under the sanitizers: the threads outlive the pair and its output.
    connect();
    device->setWriteBlocked (true);

    for (int i = 0; i < 5; ++i)
        portPair().sendMessage (frame());

    portPair().close();
    EXPECT_FALSE (portPair().hasOutput());

    MIDIManager::deleteInstance();      // deletes the pair with five sends still running
    device->setWriteBlocked (false);
    EXPECT_TRUE (device->waitForWritten (5));

    // The last thread to finish releases the output.
    EXPECT_TRUE (waitUntil ([&] { return device->getNumOpenOutputs() == 0; }));
}

TEST_F (PortPair, CloseResetsIndexesAndNamesAndReleasesThePorts)
{
    connect();
    EXPECT_EQ (device->getNumStartedInputs(), 1);

    portPair().close();
    EXPECT_EQ (portPair().getOutputIndex(), -1);
    EXPECT_EQ (portPair().getInputIndex(), -1);
    EXPECT_TRUE (portPair().getOutputName().isEmpty());
    EXPECT_TRUE (portPair().getInputName().isEmpty());
    EXPECT_EQ (device->getNumOpenInputs(), 0);
    EXPECT_EQ (device->getNumOpenOutputs(), 0);
    EXPECT_GE (device->getNumStopBackgroundThreadCalls(), 1);

    // A pair with only an input.
    portPair().setInputDevice (0, "Norvo");
    portPair().setOutputDevice (5, "Elsewhere");
    ASSERT_TRUE (portPair().openInput());
    portPair().close();
    EXPECT_EQ (portPair().getOutputIndex(), -1);
    EXPECT_EQ (portPair().getInputIndex(), -1);
    EXPECT_EQ (device->getNumOpenInputs(), 0);

    portPair().close();   // closing twice changes nothing
    EXPECT_FALSE (portPair().hasInput());
}

TEST_F (PortPair, ConnectKeepsAnOutputOfTheSameNameAndReplacesTheInput)
{
    connect();
    const auto stops = device->getNumStopBackgroundThreadCalls();

    fsm().setCurrentState (stateSearching);
    tick();
    EXPECT_EQ (state(), stateConnected);
    EXPECT_EQ (device->getNumStopBackgroundThreadCalls(), stops);
    EXPECT_EQ (device->getNumOpenOutputs(), 1);
    EXPECT_EQ (device->getNumOpenInputs(), 1);
    EXPECT_EQ (device->getNumStartedInputs(), 1);
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

    device->setRefuseOutputOpen (true);
    tick();
    EXPECT_EQ (state(), stateConnected);
    EXPECT_FALSE (portPair().hasOutput());
    EXPECT_TRUE (portPair().hasInput());
    EXPECT_EQ (takeConnectionEvents(), std::vector<int> { 0 });
    ASSERT_EQ (alerts.size(), 1);
    EXPECT_EQ (alerts[0], "Device recognition failed, your Norvo may be occupied by other applications. "
                          "Please try to close related applications and try again.||warning|OK");

    // Sends are then dropped, and the machine stays connected.
    manager().isCanSendUserMsg = true;
    send (frame());
    EXPECT_EQ (device->getNumWritten(), 0);
    EXPECT_EQ (state(), stateConnected);

    KRMIDIDeviceManager::getInstance()->closeDevice();
    fsm().fireEvent (evDone, nullptr);
    device->setRefuseInputOpen (true);
    tick();
    EXPECT_EQ (alerts.size(), 3);
    EXPECT_EQ (state(), stateConnected);
    EXPECT_FALSE (portPair().hasInput());
}
