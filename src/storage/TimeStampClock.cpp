#include "storage/TimeStampClock.h"

#include "base/Clock.h"

void TimeStampClock::start(uint32_t basis, const DateTime& now) {
    _basis = basis;
    _lastTime = now;
    _lastEpoch = now.toEpochSeconds();
    _remainderMs = 0;
    _lastTick = Clock::current().tickCount();
    _tolerance = 1;
    _active = true;
}

void TimeStampClock::rebase(uint32_t basis) {
    start(basis, Clock::current().nowUtc());
}

bool TimeStampClock::tick() {
    if (!_active) {
        return false;
    }
    Clock& clock = Clock::current();
    uint32_t now = clock.tickCount();
    uint64_t total = uint64_t(now - _lastTick) + _remainderMs;
    uint32_t seconds = static_cast<uint32_t>(total / 1000);
    _basis += seconds;
    if (seconds > 0) {
        _lastTime = _lastTime.plusSeconds(static_cast<int>(seconds));
        _lastEpoch = _lastTime.toEpochSeconds();
    }
    _remainderMs = static_cast<uint32_t>(total % 1000);
    _lastTick = now;
    // Called for every element written: the wall clock is compared in seconds, and made a
    // date only when it jumped.
    int64_t wall = clock.nowUtcEpochSeconds();
    bool changed = wall < _lastEpoch || wall > _lastEpoch + _tolerance;
    if (changed) {
        _lastTime = DateTime::fromEpochSeconds(wall);
        _lastEpoch = wall;
        _remainderMs = 0;
    }
    return changed;
}
