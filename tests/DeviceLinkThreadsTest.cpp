#include "device/DataListener.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
#include "device/MessageThreadLock.h"
#include "device/PresetManager.h"
#include "device/ReceivedMsgHandle.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/TimeLimit.h"
#include "tests/support/TrafficBytes.h"
#include "tests/support/TrafficSingletons.h"
#include "tests/support/VirtualMidiDevice.h"

#include <gtest/gtest.h>

#include <thread>

using namespace traffic;

namespace
{
    struct CountingListener : public DataListener
    {
        void deviceState (int) override                             { ++states; }
        void sysExMessage (int, const juce::uint8*, int) override  { ++replies; }
        void sendProgress (int, int) override                       { ++progress; }

        void packetDecoded (int, int, int, juce::Array<int>, int) override  { ++packets; }

        std::atomic<int> states { 0 }, replies { 0 }, progress { 0 }, packets { 0 };
    };

    /** Runs `input` on a thread while `message` runs on this one, both as soon as both are ready. */
    template <typename Input, typename Message>
    void runTogether (Input&& input, Message&& message)
    {
        std::atomic<int> ready { 0 };
        std::thread other ([&] { ++ready; while (ready < 2) std::this_thread::yield(); input(); });
        ++ready;

        while (ready < 2)
            std::this_thread::yield();

        message();
        other.join();
    }
}

// Replies are walked on the MIDI input thread while the message thread walks the send progress and
// changes the list; the list must not be left linked to either walk (ASan, TSan).
TEST (ListenerWalks, TheDispatchersListenersMayBeWalkedFromTwoThreadsAtOnce)
{
    constexpr int count = 2000;
    const auto reply = concat ({ signature, { 0x11, 0x12, 0x00, 0x00, 0x00, 0x01, 0x05, 0xF7 } });     // 15 bytes
    const Bytes update { 0xF0, 0x7E, 0x48, 0x04, 0x7F, 0xF7 };

    for (int round = 0; round < 10; ++round)
    {
        auto dispatcher = std::make_unique<ReceivedMsgHandle>();
        CountingListener first, last, passing;
        dispatcher->addListener (&first);
        dispatcher->addListener (&last);
        auto& receiver = dispatcher->getReceiver();

        runTogether ([&] { for (int i = 0; i < count; ++i) { receiver.systemReply (reply.data(), 15); receiver.sysExReply (update.data(), 6); } },
                     [&] { for (int i = 0; i < count; ++i) { receiver.sendProgress (i, count); dispatcher->addListener (&passing);
                                                            dispatcher->removeListener (&passing); } });

        dispatcher.reset();     // a list left linked to a dead walk writes through it here

        for (auto* listener : { &first, &last })
            EXPECT_EQ (std::make_tuple (listener->states.load(), listener->replies.load(), listener->progress.load()),
                       std::make_tuple (count, count, count));
    }
}

TEST (PortPair, AMessageThatComesTheMomentTheInputStartsIsTakenAsThePairsOwn)
{
    struct Receiver : public MidiPortCallback
    {
        void handleIncomingMidiMessage (const juce::String& id, const juce::MidiMessage&) override   { ++(pair->isOpenInput (id) ? own : foreign); }

        MIDIPortPair* pair = nullptr;
        std::atomic<int> own { 0 }, foreign { 0 };
    } receiver;

    VirtualMidiDevice device;
    const VirtualMidiDevice::ScopedInstall install (device);
    device.setGreeting (toMessage ({ 0xF0, 0x7E, 0x48, 0x01, 0xF7 }));
    MIDIPortPair pair (&receiver);
    receiver.pair = &pair;
    pair.setInputDevice (0, "Norvo");

    for (int opened = 1; opened <= 2; ++opened)     // also when it takes the place of an open input
    {
        ASSERT_TRUE (pair.openInput());
        EXPECT_EQ (std::make_pair (receiver.own.load(), receiver.foreign.load()), std::make_pair (opened, 0));
    }
}

// The device floods the link while the message thread closes and reopens the ports; every hundredth message
// is a data packet whose dispatch waits for the message thread.
TEST (DeviceLinkFlood, ClosingAndReopeningThePortsUnderAFloodNeitherHangsNorCorruptsAndTheLinkWorksAfterwards)
{
    VirtualMidiDevice device;
    const VirtualMidiDevice::ScopedInstall install (device);
    PresetManager::getInstance();
    CountingListener listener;
    ReceivedMsgHandle::getInstance()->addListener (&listener);
    auto& manager = *MIDIManager::getInstance();
    manager.stopTimer();

    const auto reconnect = [&manager]
    {
        KRMIDIDeviceManager::getInstance()->closeDevice();
        manager.getStateMachine().setCurrentState (stateSearching);
        manager.timerCallback();
    };

    const auto packet = toMessage (chunk (3, 0, { 1, 2, 3 })), control = toMessage ({ 0xB0, 0x07, 0x64 });
    std::atomic<bool> fed { false };
    std::thread feeder ([&]
    {
        for (int i = 0; i < 100000; ++i)
        {
            device.sendToHost (i % 100 == 0 ? packet : control);

            if (i % 100 == 99)
                std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }

        fed = true;
    });

    runWithinSeconds (20, "the flood", [&]
    {
        for (int cycles = 0; ! fed || cycles < 50; ++cycles)
        {
            reconnect();
            pumpMessagesFor (1);
        }

        feeder.join();
        EXPECT_TRUE (pumpMessagesUntil ([&] { return device.waitUntilDelivered (0); }, 15000));
    });

    reconnect();
    ASSERT_TRUE (manager.getPortPair().hasInput());
    const int before = listener.packets;
    device.sendToHost (packet);
    EXPECT_TRUE (pumpMessagesUntil ([&] { return listener.packets == before + 1; }));

    ReceivedMsgHandle::getInstance()->removeListener (&listener);
    deleteTrafficSingletons();
    EXPECT_EQ (std::make_pair (device.getNumOpenInputs(), device.getNumOpenOutputs()), std::make_pair (0, 0));
}

namespace
{
    struct PortPairOnDevice
    {
        PortPairOnDevice()      { pair.setInputDevice (0, "Norvo"); }
        ~PortPairOnDevice()     { pair.close(); pumpMessagesUntil ([this] { return device.getNumOpenInputs() == 0; }); }

        void reopen()           { pair.setInputDevice (0, "Norvo"); EXPECT_TRUE (pair.openInput()); }

        int deliver (int count)
        {
            const int before = received;

            for (int i = 0; i < count; ++i)
                device.sendToHost (toMessage ({ 0xF0, 0x7E, 0x48, 0x01, 0xF7 }));

            EXPECT_TRUE (device.waitUntilDelivered());
            return received - before;
        }

        struct Receiver : public MidiPortCallback
        {
            explicit Receiver (PortPairOnDevice& o) : owner (o) {}
            void handleIncomingMidiMessage (const juce::String&, const juce::MidiMessage&) override  { ++owner.received; if (owner.onDelivery) owner.onDelivery(); }
            PortPairOnDevice& owner;
        };

        VirtualMidiDevice device;
        const VirtualMidiDevice::ScopedInstall install { device };
        std::atomic<int> received { 0 };
        std::function<void()> onDelivery;
        Receiver receiver { *this };
        MIDIPortPair pair { &receiver };
    };
}

// Off the message thread the retired input is released only later, by the message loop; until then it must
// stay silent, also to a delivery that the device began before the close (held between the device's own
// check of the input and the callback), and the same device opened again at once hears each message once.
TEST (PortPair, AfterCloseReturnsARetiredInputDeliversNothingMoreAlsoWhenTheDeviceIsOpenedAgainAtOnce)
{
    enum Road { onMessageThread, onAnotherThread, onAnotherThreadWhileTheDeviceDelivers };

    for (const auto road : { onMessageThread, onAnotherThread, onAnotherThreadWhileTheDeviceDelivers })
    {
        std::atomic<bool> closed { false }, release { road != onAnotherThreadWhileTheDeviceDelivers };
        PortPairOnDevice link;
        link.reopen();
        link.device.setBeforeCallback ([&release] { while (! release) std::this_thread::yield(); });

        if (! release)
        {
            link.device.sendToHost (toMessage ({ 0xF0, 0x7E, 0x48, 0x01, 0xF7 }));
            ASSERT_TRUE (link.device.waitUntilDelivering());
        }

        std::pair<int, int> heard;      // while closed, after the reopening
        const auto closeReopenAndListen = [&]
        {
            link.pair.close();
            closed = true;
            link.deliver (2);
            const int whileClosed = link.received;
            link.reopen();
            heard = { whileClosed, link.deliver (3) };
        };

        runWithinSeconds (5, "close and reopen", [&]
        {
            if (road == onMessageThread)
                return closeReopenAndListen();

            std::thread other (closeReopenAndListen);

            for (int ms = 0; ms < 1000 && ! closed; ++ms)     // no message loop: it would release the retired input
                std::this_thread::sleep_for (std::chrono::milliseconds (1));

            EXPECT_TRUE (closed) << "close waited for the device";
            release = true;
            other.join();
        });

        EXPECT_EQ (heard, std::make_pair (0, 3)) << (road == onMessageThread ? "on the message thread" : road == onAnotherThread ? "on another thread"
                                                                                                            : "on another thread while the device delivers");
    }
}

// The device's thread is held inside the callback while another thread closes: close waits for it.
TEST (PortPair, CloseDoesNotReturnWhileADeliveryIsStillInsideTheCallback)
{
    PortPairOnDevice link;
    std::atomic<bool> inside { false }, release { false }, closed { false }, insideAtReturn { false };
    link.onDelivery = [&] { inside = true; while (! release) std::this_thread::yield(); inside = false; };
    link.reopen();
    link.device.sendToHost (toMessage ({ 0xF0, 0x7E, 0x48, 0x01, 0xF7 }));

    runWithinSeconds (5, "close against a held delivery", [&]
    {
        while (! inside)
            std::this_thread::yield();

        std::thread closer ([&] { link.pair.close(); insideAtReturn = inside.load(); closed = true; });

        for (int ms = 0; ms < 100 && ! closed; ++ms)
            std::this_thread::sleep_for (std::chrono::milliseconds (1));

        EXPECT_FALSE (closed) << "close returned while the delivery was inside the callback";
        release = true;
        closer.join();
        EXPECT_FALSE (insideAtReturn);
    });
}

// A write on the message thread holds the output while another thread closes the pair and opens its input again;
// the write then drops the last hold on the old output on the message thread, whose destruction waits for the
// device's delivery lock, while a delivery through the new input holds that lock and waits for the message thread.
TEST (PortPair, AWriteOnTheMessageThreadThatOutlivesACloseElsewhereReleasesTheOldOutputWhileADeliveryWaitsForThatThread)
{
    const auto frame = toMessage ({ 0xF0, 0x7E, 0x48, 0x01, 0xF7 });
    PortPairOnDevice link;
    link.pair.setOutputDevice (0, "Norvo");
    ASSERT_TRUE (link.pair.openOutput());
    link.reopen();

    std::atomic<bool> waiting { false };
    std::atomic<int> outputsAfterClose { -1 };
    link.onDelivery = [&waiting] { waiting = true; const MessageThreadLock lock; };
    link.device.setWriteBlocked (true);

    const auto waitFor = [] (const std::function<bool()>& condition)
    {
        for (int ms = 0; ms < 2000 && ! condition(); ++ms)
            std::this_thread::sleep_for (std::chrono::milliseconds (1));

        return condition();
    };

    std::thread other ([&]
    {
        if (waitFor ([&] { return link.device.getNumBlockedWrites() == 1; }))
        {
            link.pair.close();
            outputsAfterClose = link.device.getNumOpenOutputs();
            link.reopen();
            link.device.sendToHost (frame);
            EXPECT_TRUE (waitFor ([&] { return waiting.load(); })) << "no delivery reached the callback";
        }

        link.device.setWriteBlocked (false);
    });

    runWithinSeconds (5, "a write that releases the old output", [&] { link.pair.writeNow (frame); });
    other.join();

    EXPECT_EQ (outputsAfterClose, 1) << "the write held the old output past the close";
    EXPECT_EQ (link.device.getNumOpenOutputs(), 0);
    EXPECT_TRUE (link.device.waitUntilDelivered());
    EXPECT_EQ (link.device.getNumWritten(), 1);
}
