#include "device/KRMIDIDeviceManager.h"
#include "device/PresetManager.h"
#include "tests/support/AppTesting.h"
#include "tests/support/MainComponentFixture.h"
#include "tests/support/MessageLoop.h"

#include <atomic>
#include <thread>

namespace
{
    using MainComponentTest = MainComponentFixture;
}

TEST_F (MainComponentTest, StartsOnTheDisconnectedPageAndSizesThePagesWhenPainted)
{
    EXPECT_EQ (main->getBounds(), juce::Rectangle<int> (0, 0, 650, 414));

    ASSERT_EQ (main->getNumChildComponents(), 3);
    EXPECT_EQ (main->getChildComponent (0), &main->getConnectedView());
    EXPECT_EQ (main->getChildComponent (1), &main->getDisconnectedView());
    EXPECT_EQ (main->getChildComponent (2), &main->getUpdateView());
    EXPECT_TRUE (onlyVisiblePageIs (main->getDisconnectedView()));

    for (auto* page : main->getChildren())
        EXPECT_TRUE (page->getBounds().isEmpty());

    main->createComponentSnapshot (main->getLocalBounds());

    for (auto* page : main->getChildren())
        EXPECT_EQ (page->getBounds(), juce::Rectangle<int> (0, 0, 650, 414));
}

TEST_F (MainComponentTest, DrawsEveryTextWithTheEmbeddedTypefaceWhileItLives)
{
    auto* installed = dynamic_cast<DefaultLookAndFeel*> (&juce::LookAndFeel::getDefaultLookAndFeel());
    ASSERT_NE (installed, nullptr);
    ASSERT_NE (installed->regularTypeface, nullptr);
    ASSERT_NE (installed->boldTypeface, nullptr);
    EXPECT_NE (installed->regularTypeface.get(), installed->boldTypeface.get());
    EXPECT_EQ (installed->regularTypeface->getName(), installed->boldTypeface->getName());

    main = nullptr;
    EXPECT_EQ (dynamic_cast<DefaultLookAndFeel*> (&juce::LookAndFeel::getDefaultLookAndFeel()), nullptr);
}

TEST_F (MainComponentTest, WiresTheDeviceLinkAndTheEngineOnce)
{
    EXPECT_EQ (KRMIDIDeviceManager::getInstance()->getNumConnectionListeners(), 1);

    ASSERT_EQ (engine().senders.size(), 1);
    EXPECT_EQ (engine().senders[0], static_cast<DataListener*> (PresetManager::getInstance()));
    EXPECT_EQ (engine().getUpdatingState(), FirmwareUpdate::idleState);

    // A second component registers the same hub again only once.
    MainComponent second;
    EXPECT_EQ (KRMIDIDeviceManager::getInstance()->getNumConnectionListeners(), 1);

    // The hub's connection event reaches the component through the device manager.
    KRMIDIDeviceManager::getInstance()->conectEvent (0);
    lastConnectionTime = juce::Time::getMillisecondCounter();
    EXPECT_TRUE (main->isTimerRunning (MainComponent::watchdogTimerId));
    EXPECT_TRUE (second.isTimerRunning (MainComponent::watchdogTimerId));
}

//==============================================================================
struct LanguageCase
{
    const char* lang;
    bool chinese;
};

void PrintTo (const LanguageCase& c, std::ostream* os)
{
    *os << '"' << c.lang << '"';
}

class MainComponentLanguageTest : public MainComponentFixture,
                                  public ::testing::WithParamInterface<LanguageCase>
{
};

TEST_P (MainComponentLanguageTest, FirstPreferredLanguageChoosesTheTable)
{
    const auto& [lang, chinese] = GetParam();

    language.use (lang);
    rebuild();

    // "Cancel" is only translated in the Chinese table; the misspelt key only in the English one.
    EXPECT_EQ (juce::translate ("Cancel"), chinese ? juce::CharPointer_UTF8 ("\xe5\x8f\x96\xe6\xb6\x88") : juce::String ("Cancel"));
    EXPECT_EQ (juce::translate ("Restart the device r software"),
               chinese ? "Restart the device r software" : "Restart the device or software");
}

INSTANTIATE_TEST_SUITE_P (Languages, MainComponentLanguageTest,
                          ::testing::Values (LanguageCase { "zh_CN.UTF-8", true },
                                             LanguageCase { "zh_TW", true },
                                             LanguageCase { "zh_HK.UTF-8", true },
                                             LanguageCase { "en_GB.UTF-8", false },
                                             LanguageCase { "ja_JP.UTF-8", false },
                                             LanguageCase { "de_DE", false },
                                             LanguageCase { "", false }),
                          [] (const ::testing::TestParamInfo<LanguageCase>& info)
                          {
                              const auto name = juce::String (info.param.lang).upToFirstOccurrenceOf (".", false, false);
                              return (name.isEmpty() ? juce::String ("none") : name).toStdString();
                          });

//==============================================================================
TEST_F (MainComponentTest, ClosingWhileTheDeviceKeepsTalkingStopsThePortsFirst)
{
    connect();
    allowUserFrames();
    answer (1);
    juce::Component::SafePointer<juce::Component> engineLeft (main->getFirmwareUpdate());

    std::atomic<bool> stop { false };
    std::thread chatter ([this, &stop]
    {
        const juce::uint8 reply[] = { 0xF0, 0x21, 0x25, 0x7E, 'M', 'Z', '-', 0x0A, 0x11,
                                      0x12, 0x00, 0x00, 0x00, 0x01, 0xF7 };
        const juce::uint8 abort[] = { 0xF0, 0x7E, 0x48, 0x06, 0xF7 };

        while (! stop)
        {
            device.sendToHost (juce::MidiMessage (reply, (int) sizeof (reply)));
            device.sendToHost (juce::MidiMessage (abort, (int) sizeof (abort)));
            std::this_thread::sleep_for (std::chrono::microseconds (200));
        }
    });

    pumpMessagesFor (50);
    main = nullptr;

    EXPECT_EQ (device.getNumStartedInputs(), 0);
    EXPECT_FALSE (portPair().hasInput() || portPair().hasOutput());
    EXPECT_EQ (engineLeft, nullptr);

    // Events that still come find nobody to call.
    PresetManager::getInstance()->deviceConnected();
    PresetManager::getInstance()->deviceDisconnected();
    pumpMessagesFor (50);

    stop = true;
    chatter.join();
    device.waitUntilDelivered();
    settle();
}
