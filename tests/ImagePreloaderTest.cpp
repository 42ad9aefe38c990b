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

    PageImages::Embedded embedded (const juce::MemoryBlock& png)   { return { static_cast<const char*> (png.getData()), (int) png.getSize() }; }
    juce::Image fromMemory (const juce::MemoryBlock& png)          { return juce::ImageCache::getFromMemory (png.getData(), (int) png.getSize()); }
    juce::Image cachedAt (const juce::MemoryBlock& png)            { return juce::ImageCache::getFromHashCode ((juce::int64) (juce::pointer_sized_int) png.getData()); }
}

// A miss would decode again on the message thread; a second entry for a cached image would keep two copies.
TEST (ImagePreloader, TheCacheServesWhatWasDecodedAndKeepsWhatItHad)
{
    const auto fresh = pngOf (40, 30), cached = pngOf (20, 10);
    const auto alreadyCached = fromMemory (cached);

    ImagePreloader preloader ({ embedded (fresh), embedded (cached) });
    preloader.handOver();

    const auto preloaded = cachedAt (fresh);
    ASSERT_TRUE (preloaded.isValid());
    EXPECT_EQ (preloaded.getBounds(), juce::Rectangle<int> (40, 30));
    EXPECT_EQ (preloaded.getPixelAt (1, 1), juce::Colours::gold);
    EXPECT_EQ (fromMemory (fresh).getPixelData(), preloaded.getPixelData());
    EXPECT_EQ (fromMemory (cached).getPixelData(), alreadyCached.getPixelData());
}

TEST (ImagePreloader, DroppedBeforeHandingOverLeavesTheCacheAlone)
{
    const auto png = pngOf (8, 8);
    const juce::MemoryBlock broken ("not a png", 9);
    ImagePreloader ({ embedded (png), embedded (broken) });   // made and dropped at once
    EXPECT_FALSE (cachedAt (png).isValid());

    ImagePreloader preloader ({ embedded (broken) });
    preloader.handOver();
    EXPECT_FALSE (cachedAt (broken).isValid());
}
