#include "tests/e2e/AppSession.h"

#include "device/PresetManager.h"
#include "tests/support/AppTesting.h"
#include "tests/support/DeviceStateResponder.h"
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

    norvo = std::make_unique<VirtualNorvo>();
    app.initialise ("");
    ASSERT_NE (app.getMainWindow(), nullptr);
    ASSERT_TRUE (waitFor ([this] { return window().isShowing(); }));
}

void AppSession::TearDown()
{
    if (! hasQuit())
        dismissAllAlerts();

    app.shutdown();

    if (! hasQuit())
        pumpMessagesFor (20);

    deleteWholeDeviceLink();
    norvo = nullptr;
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

    auto& page = main().getConnectedView();
    const bool shown = waitFor ([this, &page, state] { return isOnlyPageShown (page) && page.currentState == state
                                                               && norvo->getNumStateRequests() >= 2; }, 4000);
    norvo->device.waitUntilDelivered();
    pumpMessagesFor (50);
    return shown && isOnlyPageShown (page);
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

    const auto file = juce::File (NORVO_E2E_OUTPUT_DIR).getChildFile ("snapshots")
                                                     .getChildFile (isChineseLanguage() ? "zh" : "en")
                                                     .getChildFile (name + ".png");
    file.getParentDirectory().createDirectory();
    file.deleteFile();

    juce::FileOutputStream stream (file);
    juce::PNGImageFormat png;
    EXPECT_TRUE (stream.openedOk() && png.writeImageToStream (image, stream)) << file.getFullPathName();
}

std::vector<double> AppSession::writeTimes (const std::function<bool (const juce::MidiMessage&)>& isOfKind)
{
    std::vector<double> times;

    for (auto& written : norvo->device.getWrittenMessages())
        if (isOfKind (written.message))
            times.push_back (written.timeMs);

    return times;
}

std::vector<double> AppSession::informationRequestTimes()
{
    return writeTimes (DeviceStateResponder::isInformationRequest);
}
