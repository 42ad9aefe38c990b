#include <gtest/gtest.h>

#include "tests/support/MessageLoop.h"
#include "tests/support/PageTesting.h"
#include "ui/UpdateView.h"

#include <thread>

TEST (UpdatePage, ProgressIsAppliedLaterOnTheMessageThreadInCallOrderWithoutNotice)
{
    UpdateView page;
    page.setBounds (0, 0, 650, 414);
    auto& bar = page.progressSlider;
    int notices = 0;
    bar.onValueChange = [&notices] { ++notices; };
    EXPECT_EQ (bar.getBounds(), juce::Rectangle<int> (206, 354, 227, 10));

    page.setProgress (0.5);
    EXPECT_EQ (bar.getValue(), 0.0);
    EXPECT_TRUE (pumpMessagesUntil ([&bar] { return bar.getValue() == 0.5; }));

    std::thread other ([&page] { page.setProgress (-3.0); page.setProgress (1.7); });
    other.join();
    pumpMessagesFor (50);
    EXPECT_EQ (bar.getValue(), 1.0);   // the last one, held at the range's end
    EXPECT_EQ (notices, 0);

    auto doomed = std::make_unique<UpdateView>();
    doomed->setProgress (0.5);
    doomed.reset();
    pumpMessagesFor (20);   // must not touch the deleted page
}

TEST (UpdatePage, PaintsTheImageOfLanguageAndModel)
{
    PageSurroundings surroundings;
    UpdateView page;
    page.setBounds (0, 0, 650, 414);

    for (const juce::String variant : { "en_full", "en_mini", "zh_full", "zh_mini" })
    {
        surroundings.useLanguage (variant.substring (0, 2));
        surroundings.useModel (variant.endsWith ("full"));
        EXPECT_TRUE (samePixels (paintOwnFace (page), scaledToPage (resourceImage ("update_" + variant + "_png")))) << variant;
    }
}
