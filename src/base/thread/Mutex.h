#pragma once

#include <mutex>

// A recursive mutual-exclusion lock: the owning thread may lock it again and must
// unlock it as often. lock() waits without time limit. Meets the standard Lockable
// requirements, so scoped locking uses std::lock_guard<Mutex> / std::unique_lock<Mutex>.
// A Condition waiting on this mutex needs it held exactly once.
class Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() { _mutex.lock(); }
    bool try_lock() { return _mutex.try_lock(); }
    void unlock() { _mutex.unlock(); }

private:
    std::recursive_mutex _mutex;
};
