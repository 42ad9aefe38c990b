#pragma once

#include "app/NewProjectApplication.h"
#include "tests/e2e/VirtualNorvo.h"
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
    MainComponent& main();

    /** Runs the message loop until the condition holds. */
    bool waitFor (const std::function<bool()>& condition, int timeoutMs = 5000);

    /** Runs the message loop until this page is the only one shown. */
    bool waitForPage (const juce::Component& page, int timeoutMs = 5000);
    bool isOnlyPageShown (const juce::Component& page);

    /** Plugs the device in; returns once the link reports the connection. */
    bool plugAndWaitForConnection();

    /** Plugs a device of this state in and waits for the connected page. */
    bool bringUpDevice (int state);

    /** Runs the message loop until the device's ports are closed. */
    bool waitForClosedPorts (int timeoutMs);

    /** Saves the window's content, with any alert over it, as snapshots/<language>/<name>.png. */
    void snapshot (const juce::String& name);

    /** The device-information requests written so far, with their times. */
    std::vector<VirtualMidiDevice::WrittenMessage> informationRequests();

    /** The update-mode switch frames written so far. */
    int countModeSwitchFrames();

    double now() const;

    std::unique_ptr<VirtualNorvo> norvo;
    NewProjectApplication app;
    double connectedAt = 0;
};
