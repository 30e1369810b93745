#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>

// Parks a thread at a chosen point (through a hook) until the test lets it go. Every wait
// has a deadline, so a fault fails the test in seconds instead of hanging it.
class Gate {
public:
    // In the parked thread: the point is reached; waits until the gate opens.
    void park(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> lock(_mutex);
        _reached = true;
        _changed.notify_all();
        _changed.wait_for(lock, limit, [this] { return _open; });
    }
    // In the test: whether a thread reached the gate within the limit.
    bool reached(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> lock(_mutex);
        return _changed.wait_for(lock, limit, [this] { return _reached; });
    }
    void open() {
        std::lock_guard<std::mutex> lock(_mutex);
        _open = true;
        _changed.notify_all();
    }

private:
    std::mutex _mutex;
    std::condition_variable _changed;
    bool _reached = false;
    bool _open = false;
};

// A thread the test must see finish in time. A thread that is still running at the
// deadline cannot be taken back: the test process ends at once with a message saying
// what did not finish, rather than waiting for CTest's time-out.
class DeadlineThread {
public:
    DeadlineThread(std::string what, std::function<void()> body) : _what(std::move(what)) {
        std::packaged_task<void()> task(std::move(body));
        _done = task.get_future();
        _thread = std::thread(std::move(task));
    }
    ~DeadlineThread() {
        try {
            finish();
        } catch (...) {
            // A test that wanted the body's failure called finish itself.
        }
    }

    // Joins the thread; rethrows what its body threw.
    void finish(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        if (!_thread.joinable()) {
            return;
        }
        if (_done.wait_for(limit) != std::future_status::ready) {
            std::fprintf(stderr, "expected %s to finish within %lld ms; it is still running\n", _what.c_str(),
                         static_cast<long long>(limit.count()));
            std::abort();
        }
        _thread.join();
        _done.get();
    }

private:
    std::string _what;
    std::future<void> _done;
    std::thread _thread;
};
