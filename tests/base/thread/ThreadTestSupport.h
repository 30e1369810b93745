#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Trace.h"

// Polls `condition` until it holds or a generous bound passes; true when it held.
inline bool eventually(const std::function<bool()>& condition, int boundMs = 20000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
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
