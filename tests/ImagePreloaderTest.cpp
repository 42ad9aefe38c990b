#include <gtest/gtest.h>

#include "ui/ImagePreloader.h"

namespace
{
    juce::MemoryBlock pngOf (int width, int height)
    {
        juce::Image image (juce::Image::ARGB, width, height, true);
        image.setPixelAt (1, 1, juce::Colours::gold);

        juce::MemoryOutputStream out;
        juce::PNGImageFormat().writeImageToStream (image, out);
        return out.getMemoryBlock();
    }

    PageImages::Embedded embedded (const juce::MemoryBlock& png)
    {
        return { static_cast<const char*> (png.getData()), (int) png.getSize() };
    }
}

// The cache must serve the preloaded images themselves: a miss would decode again on the
// message thread, and a second entry for a cached image would keep two copies alive.
TEST (ImagePreloader, TheCacheServesWhatWasDecodedAndKeepsWhatItHad)
{
    const auto fresh = pngOf (40, 30), cached = pngOf (20, 10);
    const auto alreadyCached = juce::ImageCache::getFromMemory (cached.getData(), (int) cached.getSize());

    ImagePreloader preloader ({ embedded (fresh), embedded (cached) });
    preloader.handOver();

    const auto preloaded = juce::ImageCache::getFromHashCode ((juce::int64) (juce::pointer_sized_int) fresh.getData());
    ASSERT_TRUE (preloaded.isValid());
    EXPECT_EQ (preloaded.getBounds(), juce::Rectangle<int> (40, 30));
    EXPECT_EQ (preloaded.getPixelAt (1, 1), juce::Colours::gold);
    EXPECT_EQ (juce::ImageCache::getFromMemory (fresh.getData(), (int) fresh.getSize()).getPixelData(), preloaded.getPixelData());
    EXPECT_EQ (juce::ImageCache::getFromMemory (cached.getData(), (int) cached.getSize()).getPixelData(), alreadyCached.getPixelData());
}

TEST (ImagePreloader, DroppedBeforeHandingOverLeavesTheCacheAlone)
{
    const auto png = pngOf (8, 8);
    const juce::MemoryBlock broken ("not a png", 9);

    {
        ImagePreloader preloader ({ embedded (png), embedded (broken) });
    }

    EXPECT_FALSE (juce::ImageCache::getFromHashCode ((juce::int64) (juce::pointer_sized_int) png.getData()).isValid());

    ImagePreloader preloader ({ embedded (broken) });
    preloader.handOver();
    EXPECT_FALSE (juce::ImageCache::getFromHashCode ((juce::int64) (juce::pointer_sized_int) broken.getData()).isValid());
}
