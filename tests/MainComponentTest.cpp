#include "device/PresetManager.h"
#include "tests/support/MainComponentFixture.h"
#include "tests/support/MessageLoop.h"

#include <atomic>
#include <thread>

using MainComponentTest = MainComponentFixture;

TEST_F (MainComponentTest, TheEmbeddedTypefaceLivesOnlyAsLongAsTheComponent)
{
    auto* installed = dynamic_cast<DefaultLookAndFeel*> (&juce::LookAndFeel::getDefaultLookAndFeel());
    ASSERT_NE (installed, nullptr);
    ASSERT_TRUE (installed->regularTypeface != nullptr && installed->boldTypeface != nullptr);
    EXPECT_NE (installed->regularTypeface.get(), installed->boldTypeface.get());

    main = nullptr;
    EXPECT_EQ (dynamic_cast<DefaultLookAndFeel*> (&juce::LookAndFeel::getDefaultLookAndFeel()), nullptr);
}

TEST_F (MainComponentTest, TheFirstPreferredLanguageChoosesTheTable)
{
    const struct { const char* lang; bool chinese; } cases[] = {
        { "zh_CN.UTF-8", true }, { "zh_TW", true }, { "en_GB.UTF-8", false }, { "ja_JP.UTF-8", false }, { "C", false }
    };

    for (const auto& [lang, chinese] : cases)
    {
        SCOPED_TRACE (lang);
        language.use (lang);
        rebuild();

        // "Cancel" is only translated in the Chinese table; the misspelt key only in the English one.
        EXPECT_EQ (juce::translate ("Cancel"), chinese ? juce::CharPointer_UTF8 ("\xe5\x8f\x96\xe6\xb6\x88") : juce::String ("Cancel"));
        EXPECT_EQ (juce::translate ("Restart the device r software"),
                   chinese ? "Restart the device r software" : "Restart the device or software");
    }
}

TEST_F (MainComponentTest, ClosingWhileTheDeviceKeepsTalkingStopsThePortsFirst)
{
    connect();
    answer (1);
    juce::Component::SafePointer<juce::Component> engineLeft (main->getFirmwareUpdate());

    std::atomic<bool> stop { false };
    std::thread chatter ([this, &stop]
    {
        const juce::uint8 abort[] = { 0xF0, 0x7E, 0x48, 0x06, 0xF7 };

        while (! stop)
        {
            device.sendToHost (DeviceStateResponder::makeSystemReply (1, std::nullopt));
            device.sendToHost (juce::MidiMessage (abort, (int) sizeof (abort)));
            std::this_thread::sleep_for (std::chrono::microseconds (200));
        }
    });

    pumpMessagesFor (50);
    main = nullptr;

    EXPECT_EQ (device.getNumStartedInputs(), 0);
    EXPECT_FALSE (manager().getPortPair().hasInput() || manager().getPortPair().hasOutput());
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
