#pragma once

#include <cstdint>
#include <deque>

#include "base/Date.h"
#include "base/DateTime.h"
#include "base/Interval.h"
#include "storage/PagePosition.h"
#include "storage/RecordingTableElement.h"

// One recording section as the recording table knows it, in memory only: its recording
// intervals (a stop record closes one), its calendar dates with the first and last media
// ID recorded on each, and the table pages that hold its records. Built from records in
// time order while recording (append) or backwards at open (prepend). A plain value,
// guarded by the table's mutex.
class RecordingSection {
public:
    struct DateEntry {
        Date date;
        uint64_t firstID = 0;
        uint64_t lastID = 0;
    };
    struct PageEntry {
        uint32_t page = 0;
        uint32_t checksum = 0;
        uint32_t firstOffset = 0;
        uint32_t lastOffset = 0;
        DateTime firstTime;
        DateTime lastTime;
        uint64_t firstID = 0;
        uint64_t lastID = 0;
    };

    RecordingSection() = default;
    static RecordingSection create(const RecordingTableElement& record, const PagePosition& position,
                                   uint32_t pageChecksum);
    void append(const RecordingTableElement& record, const PagePosition& position, uint32_t pageChecksum);
    void prepend(const RecordingTableElement& record, const PagePosition& position, uint32_t pageChecksum);
    // Drops what lies before `before`; `first` at `firstPosition` is the table's new first record.
    void truncateBefore(uint64_t before, const RecordingTableElement& first, const PagePosition& firstPosition);
    // Drops what lies after `after`; `last` at `lastPosition` is the table's new last record.
    void truncateAfter(uint64_t after, const RecordingTableElement& last, const PagePosition& lastPosition);

    uint32_t id() const { return _id; }
    uint64_t firstMediaID() const { return _pages.empty() ? 0 : _pages.front().firstID; }
    uint64_t lastMediaID() const { return _pages.empty() ? 0 : _pages.back().lastID; }
    PagePosition firstPosition() const;
    PagePosition lastPosition() const;
    Interval interval() const;
    bool isStopped() const { return _stopped; }
    const std::deque<DateEntry>& dates() const { return _dates; }
    const std::deque<Interval>& intervals() const { return _intervals; }
    const std::deque<PageEntry>& pages() const { return _pages; }

private:
    void addToPage(const RecordingTableElement& r, const PagePosition& position, uint32_t checksum);
    void addToIntervals(const RecordingTableElement& r);
    void addToDates(const RecordingTableElement& r);

    uint32_t _id = 0;
    std::deque<DateEntry> _dates;
    std::deque<Interval> _intervals;
    bool _stopped = false;
    std::deque<PageEntry> _pages;
};
