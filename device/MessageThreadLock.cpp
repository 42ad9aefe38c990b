#include "device/MessageThreadLock.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace
{
    /** The locks that are waiting right now, and how many refusals are in force. */
    struct Registry
    {
        std::mutex lock;
        std::vector<MessageThreadLock*> waiting;
        int refusals = 0;
    };

    Registry& getRegistry()
    {
        static Registry registry;
        return registry;
    }
}

MessageThreadLock::MessageThreadLock()
{
    gained = acquire();
}

MessageThreadLock::~MessageThreadLock()
{
    if (holdsFrameworkLock)
        mmLock.exit();
}

bool MessageThreadLock::acquire()
{
    auto* mm = juce::MessageManager::getInstanceWithoutCreating();

    if (mm == nullptr)
        return false;

    if (mm->currentThreadHasLockedMessageManager())
        return true;

    auto& registry = getRegistry();

    {
        const std::lock_guard<std::mutex> guard (registry.lock);

        if (registry.refusals > 0)
            return false;

        registry.waiting.push_back (this);
    }

    // tryEnter() may also give up spuriously, so only our own flag ends the wait.
    for (;;)
    {
        if (mmLock.tryEnter())
        {
            holdsFrameworkLock = true;
            break;
        }

        const std::lock_guard<std::mutex> guard (registry.lock);

        if (refused)
            break;
    }

    const std::lock_guard<std::mutex> guard (registry.lock);
    registry.waiting.erase (std::find (registry.waiting.begin(), registry.waiting.end(), this));
    return holdsFrameworkLock;
}

void MessageThreadLock::abortWait()
{
    refused = true;
    mmLock.abort();
}

MessageThreadLock::Refusal::Refusal()
{
    auto& registry = getRegistry();
    const std::lock_guard<std::mutex> guard (registry.lock);

    ++registry.refusals;

    for (auto* waiting : registry.waiting)
        waiting->abortWait();
}

MessageThreadLock::Refusal::~Refusal()
{
    auto& registry = getRegistry();
    const std::lock_guard<std::mutex> guard (registry.lock);
    --registry.refusals;
}
