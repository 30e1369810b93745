#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/Trace.h"

// The deadline of every wait on another thread: long enough for a loaded machine and a
// sanitizer build, short enough that a hang fails in seconds.
constexpr int WaitMs = 5000;

// Polls `condition` until it holds or the bound passes; true when it held.
inline bool eventually(const std::function<bool()>& condition, int boundMs = WaitMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs its action when the scope ends, also when an assertion left the test early: a
// test releases and joins its threads through it, so a failure cannot hang in the
// destructors of objects those threads still wait in.
class AtScopeExit {
public:
    explicit AtScopeExit(std::function<void()> action) : _action(std::move(action)) {}
    ~AtScopeExit() { _action(); }
    AtScopeExit(const AtScopeExit&) = delete;
    AtScopeExit& operator=(const AtScopeExit&) = delete;

private:
    std::function<void()> _action;
};

// Holds the threads that pass() it until open(); a test uses it to stop a thread at a
// critical point. A pass gives up after the deadline so that a failing test cannot hang.
class Gate {
public:
    // True when the gate was opened in time.
    bool pass() {
        std::unique_lock<std::mutex> lock(_mutex);
        ++_arrived;
        _changed.notify_all();
        return _changed.wait_for(lock, std::chrono::milliseconds(WaitMs), [this] { return _open; });
    }
    void open() {
        std::lock_guard<std::mutex> guard(_mutex);
        _open = true;
        _changed.notify_all();
    }
    // Waits until `count` threads in all have reached pass(); false after the deadline.
    bool awaitArrivals(int count = 1) {
        std::unique_lock<std::mutex> lock(_mutex);
        return _changed.wait_for(lock, std::chrono::milliseconds(WaitMs), [&] { return _arrived >= count; });
    }

private:
    std::mutex _mutex;
    std::condition_variable _changed;
    int _arrived = 0;
    bool _open = false;
};

// True when the thread with system identifier `tid` sleeps in the kernel (a blocked lock
// or wait) rather than running: lets a test see that a thread has reached a lock held by
// another before it releases it.
inline bool sleepsInKernel(uint32_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // "tid (name) S ...": the state follows the name, which may itself hold parentheses.
    size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'S';
}

// Collects the debug trace lines written while it exists.
class TraceCapture {
public:
    TraceCapture() {
        Trace::setSink([this](const std::string& line) {
            std::lock_guard<std::mutex> guard(_mutex);
            _lines.push_back(line);
        });
    }
    ~TraceCapture() {
        Trace::setSink(nullptr);
        Trace::setEnabled(false);
    }

    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> guard(_mutex);
        return _lines;
    }
    int countContaining(const std::string& text) {
        int n = 0;
        for (const std::string& line : lines()) {
            n += line.find(text) != std::string::npos ? 1 : 0;
        }
        return n;
    }
    bool contains(const std::string& line) {
        for (const std::string& l : lines()) {
            if (l == line) return true;
        }
        return false;
    }

private:
    std::mutex _mutex;
    std::vector<std::string> _lines;
};
