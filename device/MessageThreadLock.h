#pragma once

#include <juce_events/juce_events.h>

/** Takes the framework's message-manager lock for a MIDI input thread delivery.

    Usage, in code that runs on a MIDI input thread:
    @code
    MessageThreadLock lock;
    if (! lock.lockWasGained())
        return;
    ...
    @endcode

    The message thread may be waiting for the very delivery that asks for the lock:
    MIDIPortPair waits for a running callback when it stops an input, and the port layer
    may wait for any running delivery to open or destroy any port. While the message
    thread is in such a wait it holds a
    MessageThreadLock::Refusal: every lock that is waiting gives up at once, and every
    lock asked for meanwhile is refused, so the delivery can return instead of deadlocking.

    On the message thread itself, or on a thread that already holds the lock, the lock
    counts as gained at once.
*/
class MessageThreadLock
{
public:
    MessageThreadLock();
    ~MessageThreadLock();

    bool lockWasGained() const noexcept     { return gained; }

    /** True while a Refusal is in force: the message thread may be waiting for the delivery
        that asks, so a delivery's wait of any kind should give up.
    */
    static bool isRefusing();

    /** While one of these exists, waiting locks give up and new ones are refused.

        Only the message thread refuses, or a thread that holds its lock and so stands in
        for it: a delivery's wait for the lock deadlocks only when one of them waits for
        that delivery. Made on any other thread, a Refusal does nothing: that thread's wait
        ends once the message thread has served the delivery, and no delivery gives up
        meanwhile.
    */
    class Refusal
    {
    public:
        Refusal();
        ~Refusal();

    private:
        const bool inForce;

        JUCE_DECLARE_NON_COPYABLE (Refusal)
    };

private:
    struct FrameworkLock;

    bool acquire();
    void abortWait();
    void releaseGrantedLock();

    juce::ReferenceCountedObjectPtr<FrameworkLock> frameworkLock;
    bool gained = false;
    bool holdsFrameworkLock = false;
    bool refused = false;   // guarded by the registry's lock

    JUCE_DECLARE_NON_COPYABLE (MessageThreadLock)
};
