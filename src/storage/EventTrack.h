#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "base/Date.h"
#include "base/thread/Mutex.h"
#include "storage/EventElement.h"
#include "storage/EventQuery.h"
#include "storage/Track.h"
#include "storage/TrackPageIndex.h"

// The event track: one 64-byte EventElement per event, in media ID order, with two
// in-memory indexes rebuilt at open: a calendar (each date with events and the largest
// media ID of an event on it) and a page index (each page's ID range), so listings by
// date or media ID start at the right page. Listings stop at a maximum count and can be
// resumed after the last event returned. Written by the writer; the queries use their
// own iterators and the calendar mutex, so they may run on other threads.
class EventTrack : public Track {
public:
    EventTrack();
    ~EventTrack() override;

    void init(Storage* storage, bool write, uint32_t lastPageNumber) override;
    bool close(bool flush) override;
    std::unique_ptr<IRecordable> newElement() const override;
    PagePosition write(IRecordable& element) override;
    bool overwrite(uint64_t before) override;
    void rollback(uint64_t after, IRecordable& scratch) override;

    void calendarDates(std::set<Date>& out);
    // Events with media IDs in [end, start], newest first; a part search (resuming) skips
    // events up to and including the query's last returned one.
    void elementsBeforeOrEqual(uint64_t start, uint64_t end, bool fullSearch, const EventQuery& query,
                               std::vector<EventElement>& out, bool& limitReached);
    // Events with media IDs in [start, end], oldest first.
    void elementsAfterOrEqual(uint64_t start, uint64_t end, bool fullSearch, const EventQuery& query,
                              std::vector<EventElement>& out, bool& limitReached);
    // The events of one recording section; `direction` > 0 oldest first, else newest first.
    void elements(const EventQuery& query, uint32_t section, std::vector<EventElement>& out, int direction,
                  bool& limitReached);
    // Events pointing at timeline page `oldPage` are made to point at `newPage`, walking
    // back from the last page until an event refers to `stopPage`.
    void changeTimelineInfo(uint32_t oldPage, uint32_t newPage, uint32_t stopPage);

private:
    void rebuildIndexes();
    // Appends `e` when the query accepts it; false when the list is full.
    bool collect(const EventElement& e, const EventQuery& query, std::vector<EventElement>& out,
                 bool& limitReached);

    Mutex _mutex;
    std::map<Date, uint64_t> _calendar;
    TrackPageIndex _pageIndex;
};
