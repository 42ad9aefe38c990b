#pragma once

#include "ui/PageImages.h"

#include <memory>
#include <thread>
#include <vector>

/** Decodes embedded images on worker threads while the message thread goes on with other
    start-up work, then hands them to the framework's image cache on the message thread.

    The cache keys an embedded image by the address of its bytes, so a later
    `juce::ImageCache::getFromMemory` with the same bytes finds the decoded image as if it
    had decoded it itself. The workers only decode; the cache is touched on the calling
    thread alone. Images already in the cache are not decoded again.
*/
class ImagePreloader
{
public:
    explicit ImagePreloader (const std::vector<PageImages::Embedded>& images);

    /** Waits for any worker still running; what was not handed over is dropped. */
    ~ImagePreloader() = default;

    /** Waits for the workers and puts every image they decoded into the cache. */
    void handOver();

private:
    struct Job
    {
        ~Job()      { if (worker.joinable()) worker.join(); }

        PageImages::Embedded source;
        juce::Image image;
        std::thread worker;
    };

    std::vector<std::unique_ptr<Job>> jobs;

    JUCE_DECLARE_NON_COPYABLE (ImagePreloader)
};
