#pragma once

#include <cstddef>
#include <vector>

#include "base/DateTime.h"

// A daily timetable of actions: entries (action id, time of day) in ascending order of
// time, and a cursor on the entry that fires next. Each entry fires once a day, at the
// first look at or after its time; the first look on a new day re-arms every entry.
// Not thread-safe: its owner (an Actor) guards it.
class ScheduledActionList {
public:
    struct Entry {
        int actionId;
        Time time;
    };

    // Adds an entry after those with the same or an earlier time. It becomes the next one
    // to fire when its time is still ahead today (by Clock::current()) and not later than
    // the current next entry.
    void add(int actionId, const Time& time);
    // Removes every entry.
    void clear();
    // Starts the day of `now`: entries before its time of day are over for today.
    void begin(const DateTime& now);
    // The id of the entry due at `now`, or -1. At most one entry fires per call, so entries
    // that fell due together fire on successive calls. A list never begun takes the day of
    // its first call as today.
    int due(const DateTime& now);

    const std::vector<Entry>& entries() const { return _entries; }
    bool empty() const { return _entries.empty(); }

private:
    static constexpr std::size_t None = static_cast<size_t>(-1);

    std::vector<Entry> _entries;
    Date _today;          // invalid until begin()
    std::size_t _next = None;  // index into _entries
};
