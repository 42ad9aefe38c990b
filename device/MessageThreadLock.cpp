#include "device/MessageThreadLock.h"

#include <algorithm>
#include <mutex>
#include <vector>

/** The framework's lock, inside a message of its own.

    The message thread grants the lock by setting the flag its taker waits for and only
    then signalling the lock's event, so the taker may find the flag, do its work and
    release the lock while that signal is still under way. A granted lock is therefore
    not destroyed by its taker: it is posted to the message thread, which dispatches it
    only once it is out of the callback that signalled. Whoever drops the last reference
    after that, the signal is over.
*/
struct MessageThreadLock::FrameworkLock final : public juce::MessageManager::MessageBase
{
    void messageCallback() override {}

    juce::MessageManager::Lock lock;
};

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

    /** Granted locks that could not be posted because the quit message already was: the
        message thread may still be signalling them and will dispatch nothing more, so they
        are kept, reachable, for the rest of the process. At most one per delivering thread
        that was granted the lock as the quit came. Never destroyed, so that a thread that
        ends during static destruction still finds it.
    */
    void keepUntilExit (juce::MessageManager::MessageBase::Ptr lock)
    {
        struct Kept
        {
            std::mutex mutex;
            std::vector<juce::MessageManager::MessageBase::Ptr> locks;
        };

        static auto& kept = *new Kept();
        const std::lock_guard<std::mutex> guard (kept.mutex);
        kept.locks.push_back (std::move (lock));
    }
}

MessageThreadLock::MessageThreadLock()
{
    gained = acquire();
}

MessageThreadLock::~MessageThreadLock()
{
    // A lock that was not granted may go at once: a refusal's abort is over before the
    // lock has left the registry, and a failed attempt detaches the lock from its request.
    if (holdsFrameworkLock)
        releaseGrantedLock();
}

void MessageThreadLock::releaseGrantedLock()
{
    frameworkLock->lock.exit();

    if (frameworkLock->post())      // a failed post drops only its own reference
        return;

    // With the framework gone, the message thread is past every callback, and the lock
    // may go with this object.
    if (juce::MessageManager::getInstanceWithoutCreating() != nullptr)
        keepUntilExit (std::move (frameworkLock));
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

        frameworkLock = new FrameworkLock();
        registry.waiting.push_back (this);
    }

    // tryEnter() may also give up spuriously, so only our own flag ends the wait; or the
    // quit, after which the message thread grants nothing more and every try fails at once.
    for (;;)
    {
        if (frameworkLock->lock.tryEnter())
        {
            holdsFrameworkLock = true;
            break;
        }

        if (mm->hasStopMessageBeenSent())
            break;

        const std::lock_guard<std::mutex> guard (registry.lock);

        if (refused)
            break;
    }

    const std::lock_guard<std::mutex> guard (registry.lock);
    registry.waiting.erase (std::find (registry.waiting.begin(), registry.waiting.end(), this));
    return holdsFrameworkLock;
}

bool MessageThreadLock::isRefusing()
{
    auto& registry = getRegistry();
    const std::lock_guard<std::mutex> guard (registry.lock);
    return registry.refusals > 0;
}

void MessageThreadLock::abortWait()
{
    refused = true;
    frameworkLock->lock.abort();
}

MessageThreadLock::Refusal::Refusal()
    : inForce (juce::MessageManager::existsAndIsLockedByCurrentThread())
{
    if (! inForce)
        return;

    auto& registry = getRegistry();
    const std::lock_guard<std::mutex> guard (registry.lock);

    ++registry.refusals;

    for (auto* waiting : registry.waiting)
        waiting->abortWait();
}

MessageThreadLock::Refusal::~Refusal()
{
    if (! inForce)
        return;

    auto& registry = getRegistry();
    const std::lock_guard<std::mutex> guard (registry.lock);
    --registry.refusals;
}
