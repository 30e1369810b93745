#include "base/thread/ScheduledActionList.h"

#include "base/Clock.h"

void ScheduledActionList::add(int actionId, const Time& time) {
    size_t position = 0;
    while (position < _entries.size() && !_entries[position].time.greaterThan(time)) {
        ++position;
    }
    _entries.insert(_entries.begin() + static_cast<std::ptrdiff_t>(position), Entry{actionId, time});
    if (_next != None && _next >= position) {
        ++_next;
    }
    Time timeOfDay = Clock::current().now().time();
    // An entry with the same time as the next one goes after it and fires after it.
    if (time.greaterThan(timeOfDay) && (_next == None || time.lessThan(_entries[_next].time))) {
        _next = position;
    }
}

void ScheduledActionList::clear() {
    _entries.clear();
    _next = None;
}

void ScheduledActionList::begin(const DateTime& now) {
    _today = now.date();
    Time timeOfDay = now.time();
    _next = None;
    for (size_t i = 0; i < _entries.size(); ++i) {
        if (_entries[i].time.greaterOrEqual(timeOfDay)) {
            _next = i;
            break;
        }
    }
}

int ScheduledActionList::due(const DateTime& now) {
    if (!_today.isValid()) {
        // Never begun: the day of the first look is today, and the entries add() armed
        // stay armed. Without this an invalid day never compares as earlier than a real
        // one, and no later day would re-arm the entries.
        _today = now.date();
    } else if (_today.lessThan(now.date())) {
        _today = now.date();
        _next = _entries.empty() ? None : 0;
    }
    if (_next == None || _entries[_next].time.greaterThan(now.time())) {
        return -1;
    }
    int id = _entries[_next].actionId;
    ++_next;
    if (_next == _entries.size()) {
        _next = None;
    }
    return id;
}
