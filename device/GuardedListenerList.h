#pragma once

#include <juce_core/juce_core.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

/** A listener list that several threads may walk at once, and change while it is walked.

    A listener is held once; removal drops the first match. A walk calls the listeners from
    the last to the first and holds the lock only while it picks the next one, so a listener
    may add or remove listeners, itself included, during its call. Each walk keeps its place
    in the list as others are removed: a listener removed before its turn is not called, none
    is called twice or skipped, and one added during the walk is not called in it.

    remove returns only once no walk on another thread is calling the listener or can still
    call it, so the caller may delete it straight away. It waits for such a call to end: don't
    remove a listener while holding anything that its call on another thread waits for (the
    message thread, when the call takes the message-manager lock), nor from inside a call that
    another thread's call of the removed listener waits for.
*/
template <typename ListenerType>
class GuardedListenerList
{
public:
    void add (ListenerType* listener)
    {
        const std::lock_guard<std::mutex> guard (lock);
        listeners.addIfNotAlreadyThere (listener);
    }

    void remove (ListenerType* listener)
    {
        std::unique_lock<std::mutex> guard (lock);
        const auto index = listeners.indexOf (listener);

        if (index >= 0)
        {
            listeners.remove (index);

            for (auto* walk : walks)
                if (index < walk->position)
                    --walk->position;
        }

        // Even when it was not found: another thread may have removed it and be waiting too.
        callEnded.wait (guard, [this, listener] { return ! isCalledOnAnotherThread (listener); });
    }

    template <typename Call>
    void call (Call&& callback) const
    {
        Walk walk (*this);

        while (auto* listener = walk.next())
            callback (*listener);
    }

private:
    /** One walk in progress: where it stands and whom it is calling, kept up to date by remove. */
    struct Walk
    {
        explicit Walk (const GuardedListenerList& l) : list (l)
        {
            const std::lock_guard<std::mutex> guard (list.lock);
            position = list.listeners.size();
            list.walks.push_back (this);
        }

        ~Walk()
        {
            const std::lock_guard<std::mutex> guard (list.lock);
            list.walks.erase (std::find (list.walks.begin(), list.walks.end(), this));
            endCall();
        }

        /** Ends the current call and picks the next listener, or returns null at the end. */
        ListenerType* next()
        {
            const std::lock_guard<std::mutex> guard (list.lock);
            endCall();
            position = juce::jmin (position, list.listeners.size()) - 1;

            if (position >= 0)
                calling = list.listeners.getUnchecked (position);

            return calling;
        }

        void endCall()
        {
            if (std::exchange (calling, nullptr) != nullptr)
                list.callEnded.notify_all();
        }

        const GuardedListenerList& list;
        const std::thread::id thread = std::this_thread::get_id();
        int position = 0;
        ListenerType* calling = nullptr;

        JUCE_DECLARE_NON_COPYABLE (Walk)
    };

    bool isCalledOnAnotherThread (ListenerType* listener) const
    {
        const auto self = std::this_thread::get_id();
        return std::any_of (walks.begin(), walks.end(),
                            [=] (const Walk* w) { return w->calling == listener && w->thread != self; });
    }

    juce::Array<ListenerType*> listeners;
    mutable std::vector<Walk*> walks;       // the walks in progress, on any thread
    mutable std::mutex lock;
    mutable std::condition_variable callEnded;
};
