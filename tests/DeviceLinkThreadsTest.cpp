#include "device/DataListener.h"
#include "device/KRMIDIDeviceManager.h"
#include "device/MIDIManager.h"
#include "device/MIDIPortPair.h"
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
