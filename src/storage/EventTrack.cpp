#include "storage/EventTrack.h"

#include <mutex>

#include "base/Clock.h"
#include "storage/RecordingTable.h"
#include "storage/Storage.h"
#include "storage/TrackIterator.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"

bool EventQuery::accepts(const EventElement& e) const {
    bool inTime = !interval.from().isValid() ||
                  (!e.time().lessThan(interval.from()) && !e.time().greaterThan(interval.to()));
    // Types beyond the mask's 32 bits pass only a query that accepts every type.
    bool typeAccepted = typeMask == 0xFFFFFFFFu || (e.eventType() < 32 && (typeMask & (1u << e.eventType())) != 0);
    return inTime && (e.channelMask().value() & channels.value()) != 0 && typeAccepted;
}

EventTrack::EventTrack() : Track(PageType::Event, EventElement::RecordSize) {}

EventTrack::~EventTrack() = default;

std::unique_ptr<IRecordable> EventTrack::newElement() const {
    return std::make_unique<EventElement>();
}

void EventTrack::rebuildIndexes() {
    uint32_t t0 = Clock::current().tickCount();
    std::map<Date, uint64_t> calendar;
    TrackPageIndex index;
    index.rebuild(*storage(), type());
    if (!index.entries().empty()) {
        TrackIterator it(*storage(), type());
        EventElement e;
        for (it.toFirst(); it.read(e); it.next()) {
            uint64_t& id = calendar[e.time().date()];
            if (e.mediaID() > id) {
                id = e.mediaID();
            }
        }
        logLine("MAKE CALENDAR %ums", Clock::current().tickCount() - t0);
    }
    std::lock_guard<Mutex> lock(_mutex);
    _calendar = std::move(calendar);
    _pageIndex = index;
}

void EventTrack::init(Storage* storage, bool write, uint32_t lastPageNumber) {
    Track::init(storage, write, lastPageNumber);
    rebuildIndexes();
}

bool EventTrack::close(bool flush) {
    bool ok = Track::close(flush);
    std::lock_guard<Mutex> lock(_mutex);
    _calendar.clear();
    _pageIndex.clear();
    return ok;
}

PagePosition EventTrack::write(IRecordable& element) {
    PagePosition position = Track::write(element);
    auto& e = static_cast<EventElement&>(element);
    std::lock_guard<Mutex> lock(_mutex);
    uint64_t& id = _calendar[e.time().date()];
    if (e.mediaID() > id) {
        id = e.mediaID();
    }
    _pageIndex.noteWrite(*currentPage());
    return position;
}

bool EventTrack::overwrite(uint64_t before) {
    EventElement scratch;
    if (!overwriteFront(before, scratch)) {
        return false;
    }
    TrackListItem item;
    bool remains = storage()->findTrack(type(), item);
    std::lock_guard<Mutex> lock(_mutex);
    for (auto it = _calendar.begin(); it != _calendar.end();) {
        it = it->second < before ? _calendar.erase(it) : std::next(it);
    }
    if (remains) {
        _pageIndex.dropBefore(item.firstPage());
    } else {
        _pageIndex.clear();
    }
    return true;
}

void EventTrack::rollback(uint64_t after, IRecordable& scratch) {
    Track::rollback(after, scratch);
    rebuildIndexes();
}

void EventTrack::calendarDates(std::set<Date>& out) {
    std::lock_guard<Mutex> lock(_mutex);
    for (const auto& entry : _calendar) {
        out.insert(entry.first);
    }
}

bool EventTrack::collect(const EventElement& e, const EventQuery& query, std::vector<EventElement>& out,
                         bool& limitReached) {
    if (!query.accepts(e)) {
        return true;
    }
    if (query.maxCount > 0 && out.size() >= size_t(query.maxCount)) {
        logLine("[%s,%s,%d] - max Size [%d] limit", "EventTrack::elements", "EventTrack", __LINE__, query.maxCount);
        limitReached = true;
        return false;
    }
    out.push_back(e);
    return true;
}

void EventTrack::elementsBeforeOrEqual(uint64_t start, uint64_t end, bool fullSearch, const EventQuery& query,
                                       std::vector<EventElement>& out, bool& limitReached) {
    limitReached = false;
    TrackPageIndex::Entry entry;
    {
        std::lock_guard<Mutex> lock(_mutex);
        const TrackPageIndex::Entry* found = _pageIndex.pageAtOrAfter(start + 1);
        if (found == nullptr && !_pageIndex.entries().empty()) {
            found = &_pageIndex.entries().back();
        }
        if (found == nullptr) {
            return;
        }
        entry = *found;
    }
    TrackIterator it(*storage(), type());
    it.seek(PagePosition(entry.page, 0));
    Page probe(storage()->superBlock(), storage()->pageCache());
    probe.load(entry.page, true);
    it.seek(PagePosition(entry.page, probe.lastItemOffset()));
    logLine("[%s,%s,%d] startMediaID : %llu, endMediaID : %llu, [%s], search Start Position(%u,%u)",
            "EventTrack::elementsBeforeOrEqual", "EventTrack", __LINE__, static_cast<unsigned long long>(start),
            static_cast<unsigned long long>(end), fullSearch ? "FULL Search" : "Part Search", it.position().number,
            it.position().offset);
    bool skipping = !fullSearch && query.hasLast;
    EventElement e;
    for (; it.read(e); it.previous()) {
        if (e.mediaID() > start) {
            continue;
        }
        if (e.mediaID() < end) {
            break;
        }
        if (skipping) {
            skipping = !query.isLast(e);
            continue;
        }
        if (!collect(e, query, out, limitReached)) {
            return;
        }
    }
}

void EventTrack::elementsAfterOrEqual(uint64_t start, uint64_t end, bool fullSearch, const EventQuery& query,
                                      std::vector<EventElement>& out, bool& limitReached) {
    limitReached = false;
    TrackPageIndex::Entry entry;
    {
        std::lock_guard<Mutex> lock(_mutex);
        const TrackPageIndex::Entry* found = _pageIndex.pageAtOrBefore(start);
        if (found == nullptr) {
            return;
        }
        entry = *found;
    }
    TrackIterator it(*storage(), type());
    Page probe(storage()->superBlock(), storage()->pageCache());
    probe.load(entry.page, true);
    it.seek(PagePosition(entry.page, probe.firstItemOffset()));
    bool skipping = !fullSearch && query.hasLast;
    EventElement e;
    for (; it.read(e); it.next()) {
        if (e.mediaID() < start) {
            continue;
        }
        if (e.mediaID() > end) {
            break;
        }
        if (skipping) {
            if (query.isLast(e)) {
                logLine(">> [%s,%s,%d] - find Event > [%u] section, [%llu] mediaID, [%u] eventID",
                        "EventTrack::elementsAfterOrEqual", "EventTrack", __LINE__, e.sectionID(),
                        static_cast<unsigned long long>(e.mediaID()), static_cast<unsigned>(e.eventType()));
                skipping = false;
            }
            continue;
        }
        if (!collect(e, query, out, limitReached)) {
            return;
        }
    }
}

void EventTrack::elements(const EventQuery& query, uint32_t section, std::vector<EventElement>& out, int direction,
                          bool& limitReached) {
    limitReached = false;
    auto* table = dynamic_cast<RecordingTable*>(storage()->track(PageType::RecordingTable));
    RecordingSection s;
    if (table == nullptr || !table->section(section, s) || s.dates().empty()) {
        logLine("[%s,%s,%d], %s, sectionID : %d", "EventTrack::elements", "EventTrack", __LINE__,
                "Has no date return", static_cast<int>(section));
        return;
    }
    // The section's media IDs run from its first record to just before the next
    // section's first one (the current section has no end yet).
    uint64_t first = s.firstMediaID();
    RecordingSection next;
    uint64_t last = table->nextSectionID(section, next) != 0 && next.firstMediaID() > 0 ? next.firstMediaID() - 1
                                                                                           : ~uint64_t(0);
    bool fullSearch = !query.hasLast;
    if (direction > 0) {
        elementsAfterOrEqual(first, last, fullSearch, query, out, limitReached);
    } else {
        elementsBeforeOrEqual(last, first, fullSearch, query, out, limitReached);
    }
}

void EventTrack::changeTimelineInfo(uint32_t oldPage, uint32_t newPage, uint32_t stopPage) {
    Page* page = currentPage();
    if (page == nullptr || isEmpty()) {
        logLine("EventTrack::changeTimelineInfo has not event element");
        return;
    }
    logLine("EventTrack::changeTimelineInfo %s %d %s %d", "old", static_cast<int>(oldPage), "new",
            static_cast<int>(newPage));
    std::lock_guard<Mutex> lock(page->mutex());
    EventElement e;
    for (uint32_t i = page->itemCount(); i > 0; --i) {
        uint32_t offset = page->firstItemOffset() + (i - 1) * EventElement::RecordSize;
        if (!readAt(*page, offset, e) || e.timelinePosition().number == stopPage) {
            return;
        }
        if (e.timelinePosition().number == oldPage) {
            e.setTimelinePosition(PagePosition(newPage, e.timelinePosition().offset));
            e.writeTo(page->buffer(), static_cast<int>(offset));
        }
    }
}
