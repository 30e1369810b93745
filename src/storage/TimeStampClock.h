#pragma once

#include <cstdint>

#include "base/DateTime.h"

// The storage's monotonic seconds counter while it is open: it follows the system's
// tick count, and notices when the wall clock jumps (back, or ahead by more than the
// tolerance) so the storage can record the new wall time without the counter ever
// running backwards. Time comes from Clock::current(). Used on the writing thread.
class TimeStampClock {
public:
    // Starts counting from `basis` at wall time `now` (UTC).
    void start(uint32_t basis, const DateTime& now);
    void clear() { _active = false; }
    // Advances by the ticks elapsed since the last call. Returns true when the wall clock
    // changed; `lastTime` is then the new wall time.
    bool tick();
    // Restarts with another basis, keeping the wall time.
    void rebase(uint32_t basis);

    bool isActive() const { return _active; }
    uint32_t basis() const { return _basis; }
    const DateTime& lastTime() const { return _lastTime; }

private:
    int _tolerance = 1;
    DateTime _lastTime;
    int64_t _lastEpoch = 0;  // _lastTime in seconds, so that a tick compares without dates
    uint32_t _remainderMs = 0;
    uint32_t _basis = 0;
    uint32_t _lastTick = 0;
    bool _active = false;
};
