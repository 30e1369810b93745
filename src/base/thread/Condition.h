#pragma once

#include <condition_variable>
#include <list>

#include "base/thread/Mutex.h"

// A wait/notify pair bound to one Mutex. The caller holds the mutex (exactly once) around
// wait(), waitFor() and notify(), and re-checks its own predicate after every wake-up.
//
// Each notify() releases at most one current waiter (the one waiting longest), and several
// notifies release as many different waiters. A notify with nobody waiting is not remembered: a thread that starts
// waiting afterwards waits for the next one. That is why callers test their predicate under
// the mutex before waiting. Waits never return without a notification (no spurious
// wake-ups); waitFor() measures its limit on the real monotonic clock.
class Condition {
public:
    explicit Condition(Mutex& mutex) : _mutex(mutex) {}
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;

    // Releases the mutex, waits for a notification, and takes the mutex again.
    void wait();
    // Like wait() but gives up after `milliseconds`; true when woken by a notification.
    bool waitFor(int milliseconds);
    // Wakes one waiter, if there is one.
    void notify();
    // Wakes every thread waiting at this moment. For waiters whose predicates differ
    // (producers of records of different sizes, shut-down), where one wake-up may go to a
    // thread that cannot proceed while another that could stays asleep.
    void notifyAll();
    // Threads waiting now (caller holds the mutex); for diagnostics and tests.
    int waiterCount() const;

private:
    // One per waiting thread, in arrival order. A notification marks the oldest waiter not
    // yet released, so it is never taken by a thread that only started waiting afterwards,
    // nor twice by one thread that went back to waiting.
    struct Waiter {
        bool released = false;
        std::condition_variable_any wake;
    };

    Mutex& _mutex;
    std::list<Waiter> _waiters;
};
