#pragma once

#include "app/NewProjectApplication.h"
#include "tests/e2e/VirtualNorvo.h"
#include "tests/support/AppTesting.h"
#include "tests/support/MessageLoop.h"
#include "ui/MainComponent.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

/** One run of the application: the application object with its own main window and
    MainComponent, the real device link and timers, and a virtual Norvo on the port
    layer, unplugged at first. Each step can be saved as a snapshot of the window.
*/
class AppSession : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    NewProjectApplication::MainWindow& window()     { return *app.getMainWindow(); }
    MainComponent& main()                           { return *dynamic_cast<MainComponent*> (window().getContentComponent()); }

    bool waitFor (const std::function<bool()>& condition, int timeoutMs = 5000)     { return pumpMessagesUntil (condition, timeoutMs); }
    bool waitForPage (const juce::Component& page)  { return waitFor ([&page] { return isOnlyPageShown (page); }); }

    /** Plugs the device in; returns once the link reports the connection. */
    bool plugAndWaitForConnection();

    /** Plugs a device of this state in and waits until both its state answers have arrived. */
    bool bringUpDevice (int state);

    bool waitForClosedPorts (int timeoutMs)         { return waitFor ([this] { return norvo->device.getNumOpenInputs() == 0; }, timeoutMs); }

    /** Saves the window's content, with any alert over it, as snapshots/<language>/<name>.png. */
    void snapshot (const juce::String& name);

    /** When each message of this kind written so far was written. */
    std::vector<double> writeTimes (const std::function<bool (const juce::MidiMessage&)>& isOfKind);
    std::vector<double> informationRequestTimes();

    std::unique_ptr<VirtualNorvo> norvo;
    NewProjectApplication app;
    double connectedAt = 0;
};
