#include <gtest/gtest.h>

#include "device/ConstVar.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/PageTesting.h"
#include "ui/UpdateView.h"

#include "BinaryData.h"

#include <thread>

namespace
{
    struct UpdatePage : public testing::Test
    {
        void SetUp() override
        {
            environment.useLanguage ("en_US.UTF-8");
            page.setBounds (0, 0, 650, 414);
        }

        bool progressBecomes (double value)
        {
            return pumpMessagesUntil ([this, value] { return page.progressSlider.getValue() == value; });
        }

        ScopedEnvironment environment;
        ScopedModel model { true };
        UpdateView page;
    };

    struct ChangeCounter : public juce::Slider::Listener
    {
        void sliderValueChanged (juce::Slider*) override { ++changes; }
        int changes = 0;
    };
}

TEST_F (UpdatePage, ProgressBarIsAMouseFreeBarFromZeroToOne)
{
    auto& bar = page.progressSlider;

    EXPECT_EQ (bar.getBounds(), juce::Rectangle<int> (206, 354, 227, 10));
    EXPECT_TRUE (bar.isVisible());
    EXPECT_EQ (bar.getSliderStyle(), juce::Slider::LinearHorizontal);
    EXPECT_EQ (bar.getTextBoxPosition(), juce::Slider::NoTextBox);
    EXPECT_EQ (bar.getMinimum(), 0.0);
    EXPECT_EQ (bar.getMaximum(), 1.0);
    EXPECT_EQ (bar.getInterval(), 0.0);
    EXPECT_EQ (bar.getValue(), 0.0);
    EXPECT_FALSE (bar.isScrollWheelEnabled());
    EXPECT_FALSE (bar.getSliderSnapsToMousePosition());
    EXPECT_EQ (&bar.getLookAndFeel(), &page.sliderLookAndFeel);
}

TEST_F (UpdatePage, ProgressChangesOnlyWhenTheMessageThreadRunsAndInCallOrder)
{
    ChangeCounter counter;
    page.progressSlider.addListener (&counter);

    page.setProgress (0.5);
    EXPECT_EQ (page.progressSlider.getValue(), 0.0);
    EXPECT_TRUE (progressBecomes (0.5));

    page.setProgress (0.2);
    page.setProgress (0.7);
    pumpMessagesFor (20);
    EXPECT_EQ (page.progressSlider.getValue(), 0.7);

    EXPECT_EQ (counter.changes, 0);
    page.progressSlider.removeListener (&counter);
}

TEST_F (UpdatePage, ProgressOutsideTheRangeIsHeldAtItsEnds)
{
    page.setProgress (1.5);
    EXPECT_TRUE (progressBecomes (1.0));

    page.setProgress (-0.25);
    EXPECT_TRUE (progressBecomes (0.0));
}

TEST_F (UpdatePage, ProgressMayBeSetFromAnotherThread)
{
    std::thread worker ([this]
    {
        for (int i = 1; i <= 100; ++i)
            page.setProgress (i / 100.0);
    });

    worker.join();
    EXPECT_TRUE (progressBecomes (1.0));
}

TEST_F (UpdatePage, ProgressPostedToAPageThatIsGoneIsDropped)
{
    auto doomed = std::make_unique<UpdateView>();
    doomed->setProgress (0.5);
    doomed.reset();

    pumpMessagesFor (20);   // the posted change must not touch the deleted page
}

TEST_F (UpdatePage, PaintsTheImageOfLanguageAndModelAtEachPaint)
{
    const ScopedDistinctImages images ({ { BinaryData::update_en_full_png, BinaryData::update_en_full_pngSize },
                                         { BinaryData::update_en_mini_png, BinaryData::update_en_mini_pngSize },
                                         { BinaryData::update_zh_full_png, BinaryData::update_zh_full_pngSize },
                                         { BinaryData::update_zh_mini_png, BinaryData::update_zh_mini_pngSize } },
                                       1300, 828);

    struct Case { const char* lang; bool fullSize; const char* image; };

    for (const auto& c : { Case { "en_US.UTF-8", true,  BinaryData::update_en_full_png },
                           Case { "en_US.UTF-8", false, BinaryData::update_en_mini_png },
                           Case { "zh_CN.UTF-8", true,  BinaryData::update_zh_full_png },
                           Case { "zh_CN.UTF-8", false, BinaryData::update_zh_mini_png } })
    {
        SCOPED_TRACE (juce::String (c.lang) + (c.fullSize ? " full" : " mini"));
        environment.useLanguage (c.lang);
        ConstVar::getInstance()->isFullSizeModel = c.fullSize;

        EXPECT_TRUE (samePixels (paintOwnFace (page), drawScaledOver (images[c.image], 650, 414)));
    }
}
