#include "device/OneButtonAlert.h"
#include "tests/support/MessageLoop.h"

#include <gtest/gtest.h>

TEST (OneButtonAlert, ReturnsAtOnceAndTheWindowGoesAwayWithItsButton)
{
    showOneButtonAlert ("Title", "", juce::AlertWindow::WarningIcon, "OK");

    auto* alert = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent());
    ASSERT_NE (alert, nullptr);
    const juce::Component::SafePointer<juce::Component> window (alert);

    EXPECT_EQ (alert->getName(), "Title");
    EXPECT_EQ (alert->getNumButtons(), 1);
    EXPECT_EQ (alert->findColour (juce::AlertWindow::backgroundColourId), juce::Colour (0xff202123));

    juce::Button* button = nullptr;

    for (auto* child : alert->getChildren())
        if (button == nullptr)
            button = dynamic_cast<juce::Button*> (child);

    ASSERT_NE (button, nullptr);
    EXPECT_EQ (button->getButtonText(), "OK");

    button->triggerClick();
    EXPECT_TRUE (pumpMessagesUntil ([&] { return window == nullptr; }));
}
