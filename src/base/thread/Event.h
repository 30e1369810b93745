#pragma once

#include <condition_variable>
#include <mutex>

// A manual-reset event: once set it stays set, releasing every waiter, until reset.
// Used for a thread's "finished" signal. Safe to use from any thread.
class Event {
public:
    explicit Event(bool initiallySet) : _set(initiallySet) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    bool isSet() const;
    // Waits without time limit until the event is set.
    void wait() const;
    // Waits at most `milliseconds`; true when the event is set.
    bool waitFor(int milliseconds) const;

private:
    mutable std::mutex _mutex;
    mutable std::condition_variable _changed;
    bool _set;
};
