#include "base/Clock.h"

#include <atomic>
#include <ctime>
#include <mutex>

#include "base/DateTime.h"

namespace {

// The installed clock; null means the system clock.
std::atomic<Clock*> g_current{nullptr};

}  // namespace

Clock& Clock::current() {
    Clock* clock = g_current.load(std::memory_order_acquire);
    return clock != nullptr ? *clock : SystemClock::instance();
}

void Clock::setCurrent(Clock* clock) { g_current.store(clock, std::memory_order_release); }

int64_t Clock::nowUtcEpochSeconds() const { return nowUtc().toEpochSeconds(); }

DateTime SystemClock::now() const { return DateTime::now(); }

DateTime SystemClock::nowUtc() const { return DateTime::nowUtc(); }

int64_t SystemClock::nowUtcEpochSeconds() const { return static_cast<int64_t>(::time(nullptr)); }

uint32_t SystemClock::tickCount() const {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t milliseconds = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(milliseconds);
}

SystemClock& SystemClock::instance() {
    static SystemClock clock;
    return clock;
}

struct ManualClock::State {
    mutable std::mutex mutex;
    DateTime local;
    uint32_t ticks = 0;
    // Milliseconds moved that have not yet added up to a whole wall-clock second.
    uint32_t pendingMilliseconds = 0;
};

ManualClock::ManualClock(const DateTime& start) : _state(new State) {
    _state->local = start;
    Clock::setCurrent(this);
}

ManualClock::~ManualClock() {
    Clock* self = this;
    g_current.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    delete _state;
}

DateTime ManualClock::now() const {
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->local;
}

DateTime ManualClock::nowUtc() const {
    std::lock_guard<std::mutex> lock(_state->mutex);
    const DateTime& local = _state->local;
    DateTime utc = local.plusSeconds(-local.utcOffset());
    return DateTime(utc.date(), Time(utc.hour(), utc.minute(), utc.second(), 0));
}

uint32_t ManualClock::tickCount() const {
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->ticks;
}

void ManualClock::set(const DateTime& localTime) {
    std::lock_guard<std::mutex> lock(_state->mutex);
    _state->local = localTime;
}

void ManualClock::advanceSeconds(int seconds) {
    std::lock_guard<std::mutex> lock(_state->mutex);
    _state->local = _state->local.plusSeconds(seconds);
    _state->ticks += static_cast<uint32_t>(seconds) * 1000u;
}

void ManualClock::advanceMilliseconds(uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(_state->mutex);
    _state->ticks += milliseconds;
    uint64_t pending = uint64_t{_state->pendingMilliseconds} + milliseconds;
    _state->local = _state->local.plusSeconds(static_cast<int>(pending / 1000u));
    _state->pendingMilliseconds = static_cast<uint32_t>(pending % 1000u);
}
