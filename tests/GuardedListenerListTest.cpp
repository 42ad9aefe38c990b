#include "device/GuardedListenerList.h"
#include "tests/support/TimeLimit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace
{
    struct Listener
    {
        std::string name;
        std::atomic<int> calls { 0 };
    };

    using List = GuardedListenerList<Listener>;

    /** A walk on its own thread, held in its first call of `held`, right before the listener is reached. */
    struct HeldWalk
    {
        HeldWalk (List& list, Listener& held)
            : walker ([&]
                      {
                          list.call ([&] (Listener& l)
                          {
                              if (&l == &held && ! arrived.exchange (true))
                                  while (! released)
                                      std::this_thread::yield();

                              callsAfterRemoval += removed ? 1 : 0;
                              ++l.calls;
                          });
                      })
        {
            while (! arrived)
                std::this_thread::yield();
        }

        ~HeldWalk()     { if (walker.joinable()) release(); }
        void release()  { released = true; walker.join(); }

        std::atomic<bool> arrived { false }, released { false }, removed { false };
        std::atomic<int> callsAfterRemoval { 0 };
        std::thread walker;
    };
}

// On one thread: last to first, held once, changes during the walk take effect at once and never
// deadlock, and no listener is skipped or called twice.
TEST (GuardedListenerList, AWalkOnOneThreadSeesTheListChangeUnderItWithoutSkipsOrRepeats)
{
    runWithinSeconds (5, "a walk that changes its own list", []
    {
        List list;
        Listener a { "a" }, b { "b" }, c { "c" }, d { "d" }, e { "e" }, newcomer { "new" };

        for (auto* l : { &a, &b, &c, &d, &e, &a })
            list.add (l);

        // d leaves with e (called already) and b (not yet called) and brings a newcomer, who waits for the next walk.
        std::vector<std::string> order;
        const auto walk = [&]
        {
            order.clear();
            list.call ([&] (Listener& l)
            {
                order.push_back (l.name);

                if (&l == &d)
                {
                    list.remove (&d);
                    list.remove (&e);
                    list.remove (&b);
                    list.add (&newcomer);
                }
            });
            return order;
        };

        EXPECT_EQ (walk(), (std::vector<std::string> { "e", "d", "c", "a" }));
        EXPECT_EQ (walk(), (std::vector<std::string> { "new", "c", "a" }));
    });
}

// Another thread removes the listener that a held walk is about to call and, once remove returns, deletes
// it: the call must not reach it (ASan: heap-use-after-free).
TEST (GuardedListenerList, RemoveReturnsOnlyOnceAnotherThreadsWalkCanNoLongerCallTheListener)
{
    runWithinSeconds (5, "remove against a held walk", []
    {
        List list;
        auto victim = std::make_unique<Listener>();
        list.add (victim.get());
        HeldWalk walk (list, *victim);
        std::thread remover ([&] { list.remove (victim.get()); walk.removed = true; victim.reset(); });

        for (int ms = 0; ms < 100 && ! walk.removed; ++ms)
            std::this_thread::sleep_for (std::chrono::milliseconds (1));

        EXPECT_FALSE (walk.removed) << "remove returned while the walk was about to call the listener";
        walk.release();
        remover.join();
        EXPECT_EQ (walk.callsAfterRemoval, 0);
    });
}

// Another thread removes a listener below the one being called: the walk goes on below it, not back to it.
TEST (GuardedListenerList, RemovingALowerListenerFromAnotherThreadDuringACallNeitherRepeatsNorReachesIt)
{
    runWithinSeconds (5, "remove of a lower listener", []
    {
        List list;
        Listener lower, current;
        list.add (&lower);
        list.add (&current);
        HeldWalk walk (list, current);
        std::thread ([&] { list.remove (&lower); }).join();
        walk.release();
        EXPECT_EQ (std::make_pair (current.calls.load(), lower.calls.load()), std::make_pair (1, 0));
    });
}
