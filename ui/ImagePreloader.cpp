#include "ui/ImagePreloader.h"

namespace
{
    // The key under which the image cache keeps an image taken from memory.
    juce::int64 cacheKeyOf (const PageImages::Embedded& image)
    {
        return (juce::int64) (juce::pointer_sized_int) image.data;
    }
}

ImagePreloader::ImagePreloader (const std::vector<PageImages::Embedded>& images)
{
    jobs.reserve (images.size());   // so that keeping a started job cannot fail

    for (const auto& source : images)
    {
        if (juce::ImageCache::getFromHashCode (cacheKeyOf (source)).isValid())
            continue;

        auto job = std::make_unique<Job>();
        job->source = source;

        try
        {
            auto* target = job.get();
            job->worker = std::thread ([target]
            {
                target->image = juce::ImageFileFormat::loadFrom (target->source.data, (size_t) target->source.size);
            });
        }
        catch (...)
        {
            continue;   // no thread: the cache decodes the image when it is first taken
        }

        jobs.push_back (std::move (job));
    }
}

void ImagePreloader::handOver()
{
    for (auto& job : jobs)
    {
        if (job->worker.joinable())
            job->worker.join();

        if (job->image.isValid() && ! juce::ImageCache::getFromHashCode (cacheKeyOf (job->source)).isValid())
            juce::ImageCache::addImageToCache (job->image, cacheKeyOf (job->source));
    }

    jobs.clear();
}
