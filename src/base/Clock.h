#pragma once

#include <cstdint>

class DateTime;

// The time source of everything that acts on the wall clock or on elapsed ticks: the
// action loop's daily actions, session alive checks, reconnection delays and the
// storage clock. Production code reads Clock::current(); tests install a ManualClock and
// move it, so no test waits for a real deadline. Blocking waits with a time limit
// (Condition::waitFor) stay on the real monotonic clock.
class Clock {
public:
    virtual ~Clock() = default;
    // Local wall-clock time with the local UTC offset.
    virtual DateTime now() const = 0;
    // UTC wall-clock time, offset 0.
    virtual DateTime nowUtc() const = 0;
    // The same as seconds since 1970-01-01 00:00:00 UTC, without working out a calendar
    // date (for callers that look at the clock very often).
    virtual int64_t nowUtcEpochSeconds() const;
    // Milliseconds of a monotonic clock, as a wrapping 32-bit value.
    virtual uint32_t tickCount() const = 0;

    // The clock in force: the system clock unless a test installed another.
    static Clock& current();
    // Installs `clock` (not owned; nullptr restores the system clock).
    static void setCurrent(Clock* clock);
};

// The operating system's clocks.
class SystemClock : public Clock {
public:
    DateTime now() const override;
    DateTime nowUtc() const override;
    int64_t nowUtcEpochSeconds() const override;
    uint32_t tickCount() const override;
    static SystemClock& instance();
};

// A clock that stands still until a test moves it. Thread-safe. Installs itself as the
// current clock for its lifetime, and restores the system clock when destroyed.
class ManualClock : public Clock {
public:
    explicit ManualClock(const DateTime& start);
    ~ManualClock() override;
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    DateTime now() const override;
    DateTime nowUtc() const override;
    uint32_t tickCount() const override;

    void set(const DateTime& localTime);
    // Moves wall clock and tick count forward together.
    void advanceSeconds(int seconds);
    void advanceMilliseconds(uint32_t milliseconds);

private:
    struct State;
    State* _state;
};
