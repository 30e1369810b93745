#include "storage/TimeStampClock.h"

#include "base/Clock.h"

void TimeStampClock::start(uint32_t basis, const DateTime& now) {
    _basis = basis;
    _lastTime = now;
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
    _lastTime = _lastTime.plusSeconds(static_cast<int>(seconds));
    _remainderMs = static_cast<uint32_t>(total % 1000);
    _lastTick = now;
    DateTime wall = clock.nowUtc();
    bool changed = wall.lessThan(_lastTime) || wall.greaterThan(_lastTime.plusSeconds(_tolerance));
    if (changed) {
        _lastTime = wall;
        _remainderMs = 0;
    }
    return changed;
}
