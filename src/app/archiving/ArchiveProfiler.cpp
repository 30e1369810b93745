#include "app/archiving/ArchiveProfiler.h"

#include "base/Clock.h"
#include "base/Trace.h"

void ArchiveProfiler::restartWindow() {
    _profiler.reset();
    _startTick = Clock::current().tickCount();
}

void ArchiveProfiler::start() {
    std::lock_guard<std::mutex> lock(_mutex);
    restartWindow();
    _active = true;
}

void ArchiveProfiler::add(int seconds) {
    if (seconds <= 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(_mutex);
    _profiler.sample(static_cast<uint32_t>(seconds));
}

uint32_t ArchiveProfiler::elapsedLocked() const {
    return Clock::current().tickCount() - _startTick;  // wraps correctly across the overflow
}

uint32_t ArchiveProfiler::elapsed() {
    std::lock_guard<std::mutex> lock(_mutex);
    return elapsedLocked();
}

void ArchiveProfiler::reset() {
    std::lock_guard<std::mutex> lock(_mutex);
    restartWindow();
}

void ArchiveProfiler::clear() {
    std::lock_guard<std::mutex> lock(_mutex);
    _active = false;
}

bool ArchiveProfiler::isActive() {
    std::lock_guard<std::mutex> lock(_mutex);
    return _active;
}

double ArchiveProfiler::speedLocked() const {
    uint32_t ms = elapsedLocked();
    return ms == 0 ? 0.0 : static_cast<double>(_profiler.totalValue()) * 1000.0 / ms;
}

double ArchiveProfiler::speed() {
    std::lock_guard<std::mutex> lock(_mutex);
    return speedLocked();
}

int ArchiveProfiler::archiveSpeed() {
    std::lock_guard<std::mutex> lock(_mutex);
    double x = speedLocked();
    QF_TRACE("ArchiveProfiler::archiveSpeed : %.2f", x);
    if (x > 1.5) {
        return Fast;
    }
    return x >= 1.0 ? Normal : Slow;
}
