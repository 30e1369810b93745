#include "storage/RecordingSection.h"

RecordingSection RecordingSection::create(const RecordingTableElement& record, const PagePosition& position,
                                          uint32_t pageChecksum) {
    RecordingSection section;
    section._id = record.sectionID();
    section.append(record, position, pageChecksum);
    return section;
}

void RecordingSection::append(const RecordingTableElement& record, const PagePosition& position,
                              uint32_t pageChecksum) {
    addToPage(record, position, pageChecksum);
    addToIntervals(record);
    addToDates(record);
}

void RecordingSection::addToPage(const RecordingTableElement& r, const PagePosition& position, uint32_t checksum) {
    if (!_pages.empty() && _pages.back().page == position.number) {
        PageEntry& entry = _pages.back();
        entry.lastOffset = position.offset;
        entry.lastTime = r.time();
        entry.lastID = r.mediaID();
        return;
    }
    _pages.push_back(PageEntry{position.number, checksum, position.offset, position.offset, r.time(), r.time(),
                               r.mediaID(), r.mediaID()});
}

void RecordingSection::addToIntervals(const RecordingTableElement& r) {
    if (_intervals.empty()) {
        _intervals.emplace_back(r.time(), r.time());
        _stopped = r.isStop();
        return;
    }
    if (_stopped) {
        _intervals.emplace_back(r.time(), r.time());
        _stopped = false;
        return;
    }
    _intervals.back() = Interval(_intervals.back().from(), r.time());
    _stopped = r.isStop();
}

void RecordingSection::addToDates(const RecordingTableElement& r) {
    if (_dates.empty() || !_dates.back().date.equals(r.time().date())) {
        _dates.push_back(DateEntry{r.time().date(), r.mediaID(), r.mediaID()});
    } else if (r.mediaID() != _dates.back().lastID) {
        _dates.back().lastID = r.mediaID();
    }
}

void RecordingSection::prepend(const RecordingTableElement& r, const PagePosition& position,
                               uint32_t pageChecksum) {
    if (_pages.empty()) {
        _id = r.sectionID();
    }
    if (!_pages.empty() && _pages.front().page == position.number) {
        PageEntry& entry = _pages.front();
        entry.firstOffset = position.offset;
        entry.firstTime = r.time();
        entry.firstID = r.mediaID();
    } else {
        _pages.push_front(PageEntry{position.number, pageChecksum, position.offset, position.offset, r.time(),
                                    r.time(), r.mediaID(), r.mediaID()});
    }
    // Walking backwards, a stop record ends an interval earlier than the first one.
    if (_intervals.empty()) {
        _intervals.emplace_back(r.time(), r.time());
        _stopped = r.isStop();
    } else if (r.isStop()) {
        _intervals.emplace_front(r.time(), r.time());
    } else {
        _intervals.front() = Interval(r.time(), _intervals.front().to());
    }
    if (_dates.empty()) {
        _dates.push_front(DateEntry{r.time().date(), r.mediaID(), r.mediaID()});
    } else if (_dates.front().date.equals(r.time().date())) {
        _dates.front().firstID = r.mediaID();
    } else {
        // Everything recorded before the later date's first ID belongs to earlier dates.
        uint64_t last = _dates.front().firstID > r.mediaID() ? _dates.front().firstID - 1 : r.mediaID();
        _dates.push_front(DateEntry{r.time().date(), r.mediaID(), last});
    }
}

void RecordingSection::truncateBefore(uint64_t before, const RecordingTableElement& first,
                                      const PagePosition& firstPosition) {
    while (!_pages.empty() && _pages.front().lastID < before) {
        _pages.pop_front();
    }
    if (!_pages.empty()) {
        PageEntry& entry = _pages.front();
        if (entry.page == firstPosition.number) {
            entry.firstOffset = firstPosition.offset;
        }
        entry.firstTime = first.time();
        entry.firstID = first.mediaID();
    }
    while (!_dates.empty() && _dates.front().lastID < before) {
        _dates.pop_front();
    }
    if (!_dates.empty()) {
        _dates.front().firstID = before;
    }
    while (_intervals.size() > 1 && _intervals.front().to().lessThan(first.time())) {
        _intervals.pop_front();
    }
    if (!_intervals.empty()) {
        _intervals.front() = Interval(first.time(), _intervals.front().to());
    }
}

void RecordingSection::truncateAfter(uint64_t after, const RecordingTableElement& last,
                                     const PagePosition& lastPosition) {
    while (!_pages.empty() && _pages.back().firstID > after) {
        _pages.pop_back();
    }
    if (!_pages.empty()) {
        PageEntry& entry = _pages.back();
        if (entry.page == lastPosition.number) {
            entry.lastOffset = lastPosition.offset;
        }
        entry.lastTime = last.time();
        entry.lastID = last.mediaID();
    }
    while (!_dates.empty() && _dates.back().firstID > after) {
        _dates.pop_back();
    }
    if (!_dates.empty()) {
        _dates.back().lastID = last.mediaID();
    }
    while (_intervals.size() > 1 && _intervals.back().from().greaterThan(last.time())) {
        _intervals.pop_back();
    }
    if (!_intervals.empty()) {
        _intervals.back() = Interval(_intervals.back().from(), last.time());
    }
    _stopped = last.isStop();
}

PagePosition RecordingSection::firstPosition() const {
    return _pages.empty() ? PagePosition() : PagePosition(_pages.front().page, _pages.front().firstOffset);
}

PagePosition RecordingSection::lastPosition() const {
    return _pages.empty() ? PagePosition() : PagePosition(_pages.back().page, _pages.back().lastOffset);
}

Interval RecordingSection::interval() const {
    if (_intervals.empty()) {
        return Interval();
    }
    return Interval(_intervals.front().from(), _intervals.back().to());
}
