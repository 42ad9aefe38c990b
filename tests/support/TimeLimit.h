#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

/** Runs the function on the calling thread; if it has not returned within the time, a deadlock is
    taken for granted and the run aborts with a message naming it, instead of hanging. */
template <typename Function>
void runWithinSeconds (int seconds, const char* what, Function&& function)
{
    std::promise<void> done;
    std::thread watchdog ([finished = done.get_future(), seconds, what]
                          {
                              if (finished.wait_for (std::chrono::seconds (seconds)) != std::future_status::ready)
                              {
                                  std::fprintf (stderr, "%s did not return within %d s: deadlock\n", what, seconds);
                                  std::abort();
                              }
                          });
    function();
    done.set_value();
    watchdog.join();
}
