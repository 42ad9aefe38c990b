#include "app/NewProjectApplication.h"
#include "tests/support/AppTesting.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/VirtualMidiDevice.h"
#include "ui/MainComponent.h"

#include <gtest/gtest.h>

namespace
{
    /** The application with its quit request counted instead of ending the message loop. */
    struct QuitCountingApplication : public NewProjectApplication
    {
        void systemRequestedQuit() override     { ++quitRequests; }

        int quitRequests = 0;
    };

    class ApplicationTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            language.use ("en_GB.UTF-8");
            device.unplug();
        }

        void TearDown() override
        {
            app.shutdown();
            dismissAllAlerts();
            pumpMessagesFor (20);
            deleteWholeDeviceLink();
        }

        ScopedLanguage language;
        VirtualMidiDevice device;
        VirtualMidiDevice::ScopedInstall install { device };
        QuitCountingApplication app;
    };
}

TEST_F (ApplicationTest, NamesItselfAndAllowsMoreThanOneCopy)
{
    EXPECT_EQ (app.getApplicationName(), "Norvo USB Updater");
    EXPECT_EQ (app.getApplicationVersion(), "1.2.1");
    EXPECT_EQ (app.getWindowTitle(), "Norvo USB Updater V1.2.1");
    EXPECT_TRUE (app.moreThanOneInstanceAllowed());
    EXPECT_EQ (app.getMainWindow(), nullptr);

    app.anotherInstanceStarted ("--another");
    EXPECT_EQ (app.getMainWindow(), nullptr);
}

TEST_F (ApplicationTest, OpensOneCentredFixedSizeWindowAroundMainComponent)
{
    app.initialise ("--ignored -x");

    auto* window = app.getMainWindow();
    ASSERT_NE (window, nullptr);
    EXPECT_EQ (window->getName(), "Norvo USB Updater V1.2.1");
    EXPECT_TRUE (window->isVisible());
    EXPECT_TRUE (window->isOnDesktop());
    EXPECT_TRUE (window->isUsingNativeTitleBar());

    auto* content = dynamic_cast<MainComponent*> (window->getContentComponent());
    ASSERT_NE (content, nullptr);
    EXPECT_EQ (content->getWidth(), 650);
    EXPECT_EQ (content->getHeight(), 414);
    EXPECT_EQ (window->getWidth(), 650);
    EXPECT_EQ (window->getHeight(), 414);

    EXPECT_FALSE (window->isResizable());
    const auto style = window->getDesktopWindowStyleFlags();
    EXPECT_NE (style & juce::ComponentPeer::windowHasMinimiseButton, 0);
    EXPECT_NE (style & juce::ComponentPeer::windowHasCloseButton, 0);
    EXPECT_EQ (style & juce::ComponentPeer::windowHasMaximiseButton, 0);
    EXPECT_EQ (style & juce::ComponentPeer::windowIsResizable, 0);

    const auto* display = juce::Desktop::getInstance().getDisplays().getDisplayForRect (window->getScreenBounds());
    ASSERT_NE (display, nullptr);
    const auto offset = window->getBounds().getCentre() - display->userArea.getCentre();
    EXPECT_LE (std::abs (offset.x), 1);
    EXPECT_LE (std::abs (offset.y), 1);

    juce::Component::SafePointer<juce::Component> contentLeft (content);
    app.shutdown();
    EXPECT_EQ (app.getMainWindow(), nullptr);
    EXPECT_EQ (contentLeft, nullptr);
}

TEST_F (ApplicationTest, TheCloseButtonAsksToQuitWithoutAQuestion)
{
    app.initialise ({});

    app.getMainWindow()->closeButtonPressed();
    pumpMessagesFor (20);

    EXPECT_EQ (app.quitRequests, 1);
    EXPECT_TRUE (findAlertWindows().empty());
    EXPECT_EQ (juce::Component::getCurrentlyModalComponent(), nullptr);
}
