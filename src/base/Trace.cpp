#include "base/Trace.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

std::atomic<int> g_enabled{-1};  // -1: not decided yet, read the environment on first use
std::mutex g_sinkMutex;
Trace::Sink g_sink;

bool environmentAsksForTrace() {
    const char* value = std::getenv("QUILLFEN_TRACE");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace

bool Trace::enabled() {
    int state = g_enabled.load(std::memory_order_relaxed);
    if (state < 0) {
        state = environmentAsksForTrace() ? 1 : 0;
        g_enabled.store(state, std::memory_order_relaxed);
    }
    return state == 1;
}

void Trace::setEnabled(bool enabled) {
    g_enabled.store(enabled ? 1 : 0, std::memory_order_relaxed);
}

void Trace::setSink(Sink sink) {
    std::lock_guard<std::mutex> guard(g_sinkMutex);
    g_sink = std::move(sink);
    if (g_sink) {
        setEnabled(true);
    }
}

void Trace::write(const char* fmt, ...) {
    if (!enabled()) {
        return;
    }
    va_list args;
    va_start(args, fmt);
    vwrite(fmt, args);
    va_end(args);
}

void Trace::vwrite(const char* fmt, va_list args) {
    if (!enabled()) {
        return;
    }
    char line[2048];
    std::vsnprintf(line, sizeof line, fmt, args);
    std::lock_guard<std::mutex> guard(g_sinkMutex);
    if (g_sink) {
        g_sink(line);
    } else {
        std::fputs(line, stderr);
        size_t length = std::strlen(line);
        if (length == 0 || line[length - 1] != '\n') {
            std::fputc('\n', stderr);
        }
    }
}
