#include "tests/e2e/AppSession.h"

#include "device/PresetManager.h"
#include "tests/support/AppTesting.h"
#include "tests/support/DeviceStateResponder.h"
#include "tests/support/MessageLoop.h"
#include "ui/PreferredLanguage.h"

namespace
{
    bool hasQuit()
    {
        return juce::MessageManager::getInstance()->hasStopMessageBeenSent();
    }
}

void AppSession::SetUp()
{
    if (hasQuit())
        GTEST_SKIP() << "the message loop was ended by an earlier session";

    norvo = std::make_unique<VirtualNorvo> ("Norvo USB MIDI");
    norvo->unplug();

    app.initialise ("");
    ASSERT_NE (app.getMainWindow(), nullptr);
    ASSERT_TRUE (waitFor ([this] { return window().isShowing(); }));
}

void AppSession::TearDown()
{
    if (! hasQuit())
    {
        dismissAllAlerts();

        // A state request still pending would outlive the session; let it run first.
        if (connectedAt > 0)
            waitFor ([this] { return now() - connectedAt > 1200.0; }, 3000);
    }

    app.shutdown();

    if (! hasQuit())
        pumpMessagesFor (20);

    deleteWholeDeviceLink();
    norvo = nullptr;
}

MainComponent& AppSession::main()
{
    return *dynamic_cast<MainComponent*> (window().getContentComponent());
}

double AppSession::now() const
{
    return juce::Time::getMillisecondCounterHiRes();
}

bool AppSession::waitFor (const std::function<bool()>& condition, int timeoutMs)
{
    return pumpMessagesUntil (condition, timeoutMs);
}

bool AppSession::isOnlyPageShown (const juce::Component& page)
{
    int shown = 0;

    for (auto* child : main().getChildren())
        shown += child->isVisible() ? 1 : 0;

    return shown == 1 && page.isVisible();
}

bool AppSession::waitForPage (const juce::Component& page, int timeoutMs)
{
    return waitFor ([this, &page] { return isOnlyPageShown (page); }, timeoutMs);
}

bool AppSession::plugAndWaitForConnection()
{
    norvo->plug();

    const bool connected = waitFor ([] { return PresetManager::getInstance()->getConnectionState() == 1; }, 4000);
    connectedAt = norvo->getLastOpenTime();
    return connected;
}

bool AppSession::bringUpDevice (int state)
{
    norvo->setState (state);

    if (! plugAndWaitForConnection())
        return false;

    // Both the information request and the state read are answered before the session goes on.
    auto& page = main().getConnectedView();
    const bool shown = waitFor ([this, &page, state] { return isOnlyPageShown (page) && page.currentState == state
                                                               && norvo->getNumStateRequests() >= 2; }, 4000);
    norvo->device.waitUntilDelivered();
    pumpMessagesFor (50);
    return shown && isOnlyPageShown (page);
}

bool AppSession::waitForClosedPorts (int timeoutMs)
{
    return waitFor ([this] { return norvo->device.getNumOpenInputs() == 0; }, timeoutMs);
}

void AppSession::snapshot (const juce::String& name)
{
    auto& content = *window().getContentComponent();
    auto image = content.createComponentSnapshot (content.getLocalBounds(), true, 1.0f);

    {
        juce::Graphics g (image);

        for (auto* alert : findAlertWindows())
        {
            const auto position = alert->getScreenPosition() - content.getScreenPosition();
            g.drawImageAt (alert->createComponentSnapshot (alert->getLocalBounds(), true, 1.0f), position.x, position.y);
        }
    }

    const auto folder = juce::File (NORVO_E2E_OUTPUT_DIR).getChildFile ("snapshots")
                                                       .getChildFile (isChineseLanguage() ? "zh" : "en");
    folder.createDirectory();

    const auto file = folder.getChildFile (name + ".png");
    file.deleteFile();

    juce::FileOutputStream stream (file);
    juce::PNGImageFormat png;
    EXPECT_TRUE (stream.openedOk() && png.writeImageToStream (image, stream)) << file.getFullPathName();
}

std::vector<VirtualMidiDevice::WrittenMessage> AppSession::informationRequests()
{
    std::vector<VirtualMidiDevice::WrittenMessage> requests;

    for (auto& written : norvo->device.getWrittenMessages())
        if (DeviceStateResponder::isInformationRequest (written.message))
            requests.push_back (written);

    return requests;
}

int AppSession::countModeSwitchFrames()
{
    int frames = 0;

    for (auto& written : norvo->device.getWrittenMessages())
    {
        const auto* d = written.message.getRawData();
        frames += (written.message.getRawDataSize() == 22 && d[8] == 0x12 && d[15] == 0x02) ? 1 : 0;
    }

    return frames;
}
