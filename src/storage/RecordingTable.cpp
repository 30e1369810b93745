#include "storage/RecordingTable.h"

#include <algorithm>
#include <mutex>

#include "base/TarsilException.h"
#include "base/TextOf.h"
#include "base/Trace.h"
#include "storage/Storage.h"
#include "storage/StorageUtility.h"
#include "storage/TarsilError.h"
#include "storage/Timeline.h"
#include "storage/TimelineElement.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"

namespace {

const char* kindTitle(int kind) {
    static const char* const titles[] = {"WRITE RESERVED: ", "WRITE END OF DATE: ", "WRITE CONTINUOUS: ", "WRITE STOP: "};
    return titles[kind];
}

}  // namespace

RecordingTable::RecordingTable() : Track(PageType::RecordingTable, RecordingTableElement::RecordSize) {}

RecordingTable::~RecordingTable() = default;

std::unique_ptr<IRecordable> RecordingTable::newElement() const {
    return std::make_unique<RecordingTableElement>();
}

void RecordingTable::resetInternals(uint32_t id) {
    logLine("RecordingTable::resetInternals");
    std::lock_guard<Mutex> lock(_mutex);
    _last = RecordingTableElement();
    _lastTime = DateTime::INVALID;
    _sectionID = id;
    _lastPosition = PagePosition();
    _lastTimelinePosition = PagePosition();
    _lastMask = BitMask32();
    _reserved = RecordingTableElement();
}

void RecordingTable::lastOfTimeline(DateTime& time, PagePosition& position) {
    time = DateTime::INVALID;
    position = PagePosition();
    if (!storage()->hasTrack(PageType::Timeline)) {
        return;
    }
    StorageUtility utility(*storage());
    TimelineElement entry;
    if (utility.lastItem(PageType::Timeline, entry)) {
        time = entry.time();
        position = utility.lastPosition(PageType::Timeline);
    }
}

void RecordingTable::init(Storage* storage, bool write, uint32_t lastPageNumber) {
    Track::init(storage, write, lastPageNumber);
    rebuild();
    DateTime time;
    PagePosition position;
    lastOfTimeline(time, position);
    std::lock_guard<Mutex> lock(_mutex);
    _lastTime = time;
    _lastTimelinePosition = _last.isEmpty() ? PagePosition() : position;
}

bool RecordingTable::close(bool flush) {
    {
        std::lock_guard<Mutex> lock(_mutex);
        _sections.clear();
    }
    return Track::close(flush);
}

bool RecordingTable::readLastRecord(RecordingTableElement& record, PagePosition& position) {
    Page* page = currentPage();
    if (page == nullptr || !page->isLoaded()) {
        return false;
    }
    if (!page->isEmpty()) {
        position = PagePosition(page->pageNumber(), page->lastItemOffset());
        return readAt(*page, position.offset, record);
    }
    if (page->previous() == 0) {
        return false;
    }
    Page previous(storage()->superBlock(), storage()->pageCache());
    StorageUtility utility(*storage());
    utility.loadPage(previous, type(), page->previous(), page->previousChecksum(), true);
    if (previous.isEmpty()) {
        return false;
    }
    position = PagePosition(previous.pageNumber(), previous.lastItemOffset());
    return readAt(previous, position.offset, record);
}

void RecordingTable::rebuild() {
    {
        std::lock_guard<Mutex> lock(_mutex);
        _sections.clear();
    }
    RecordingTableElement last;
    PagePosition lastPosition;
    if (isEmpty() || !readLastRecord(last, lastPosition)) {
        resetInternals(1);
        return;
    }
    std::map<uint32_t, RecordingSection> sections;
    SuperBlock& superBlock = storage()->superBlock();
    TrackListItem item;
    storage()->findTrack(type(), item);
    Page page(superBlock, storage()->pageCache());
    page.load(lastPosition.number, true);
    RecordingSection section;
    RecordingTableElement record = last;
    PagePosition position = lastPosition;
    logLine("CREATE: (%u, %u) [%u]", position.number, position.offset, record.sectionID());
    section.prepend(record, position, page.checksum());
    uint64_t limit = uint64_t(superBlock.pageCount()) * (superBlock.pageSize() / RecordingTableElement::RecordSize);
    for (uint64_t steps = 0; steps < limit; ++steps) {
        PagePosition previous = record.prevPosition();
        bool atTableStart = position.number == item.firstPage() && page.pageNumber() == item.firstPage() &&
                            position.offset == page.firstItemOffset();
        if (!previous.isSet() || atTableStart) {
            break;
        }
        bool fallBack = !superBlock.isPageNumber(previous.number);
        if (!fallBack && page.pageNumber() != previous.number) {
            page.load(previous.number, true);
        }
        fallBack = fallBack || !page.type().equals(type()) || page.superChecksum() != superBlock.checksum() ||
                   page.firstItemID() > record.mediaID() || previous.offset < page.firstItemOffset() ||
                   previous.offset > page.lastItemOffset() || page.isEmpty() ||
                   (previous.offset - page.firstItemOffset()) % RecordingTableElement::RecordSize != 0;
        if (fallBack) {
            // A link that does not hold: the table's first record ends the walk.
            try {
                StorageUtility(*storage()).loadPage(page, type(), item.firstPage(), item.firstPageChecksum(), true);
            } catch (const TarsilException&) {
                break;
            }
            if (page.isEmpty()) {
                break;
            }
            previous = PagePosition(page.pageNumber(), page.firstItemOffset());
        }
        if (!readAt(page, previous.offset, record)) {
            break;
        }
        position = previous;
        if (record.sectionID() != section.id()) {
            logLine("COMPLT: (%u, %u) [%u]", position.number, position.offset, section.id());
            sections[section.id()] = section;
            section = RecordingSection();
            logLine("CREATE: (%u, %u) [%u]", position.number, position.offset, record.sectionID());
        }
        section.prepend(record, position, page.checksum());
        if (fallBack) {
            break;
        }
    }
    logLine("COMPLT: (%u, %u) [%u]", position.number, position.offset, section.id());
    sections[section.id()] = section;
    std::lock_guard<Mutex> lock(_mutex);
    _sections = std::move(sections);
    _last = last;
    _sectionID = last.sectionID();
    _lastPosition = lastPosition;
    _lastMask = last.channelMask();
    _reserved = RecordingTableElement();
}

void RecordingTable::writeRecord(RecordingTableElement record, Kind kind) {
    PagePosition position = Track::write(record);
    uint32_t checksum = currentPage()->checksum();
    bool newSection = false;
    {
        std::lock_guard<Mutex> lock(_mutex);
        auto found = _sections.find(record.sectionID());
        if (found == _sections.end()) {
            _sections[record.sectionID()] = RecordingSection::create(record, position, checksum);
            newSection = true;
        } else {
            found->second.append(record, position, checksum);
        }
        if (kind != Kind::Continuous) {
            _lastPosition = position;
        } else if (position.number != _lastPosition.number) {
            logLine("Recording Table Page Changed FROM %u TO %u", _lastPosition.number, position.number);
            _lastPosition = position;
        }
        _last = record;
        _lastMask = record.channelMask();
    }
    if (newSection) {
        storage()->recordingSectionChanged(record.sectionID());
    }
    logLine("[ROLLBACK]write reserved :(%u, %u) %u %s", record.position().number, record.position().offset,
            record.channelMask().value(), textOf(record.time()).c_str());
}

void RecordingTable::writeReserved(Kind kind) {
    RecordingTableElement reserved;
    {
        std::lock_guard<Mutex> lock(_mutex);
        if (_reserved.isEmpty()) {
            return;
        }
        reserved = _reserved;
        _reserved = RecordingTableElement();
    }
    logLine("%s(%u, %u) %u %s", kindTitle(static_cast<int>(kind)), reserved.position().number,
            reserved.position().offset, reserved.channelMask().value(), textOf(reserved.time()).c_str());
    writeRecord(reserved, kind);
}

void RecordingTable::writeStop() {
    if (isEmpty() || _last.isEmpty() || _last.isStop()) {
        logLine("RecordingTable::writeStop : no need to write cause %s",
                isEmpty() || _last.isEmpty() ? "empty" : "stopped");
        return;
    }
    logLine("WRITE STOP");
    RecordingTableElement stop;
    stop.setTime(_lastTime.isValid() ? _lastTime : _last.time());
    stop.setChannelMask(BitMask32());
    stop.setSectionID(_sectionID);
    stop.setPosition(_lastTimelinePosition.isSet() ? _lastTimelinePosition : _last.position());
    stop.setMediaID(_last.mediaID());
    stop.setPrevPosition(_lastPosition);
    stop.setPrevMask(_lastMask);
    writeRecord(stop, Kind::Stop);
}

void RecordingTable::finish() {
    if (!_reserved.isEmpty()) {
        if (_reserved.channelMask() != _last.channelMask() ||
            _reserved.position().number != _last.position().number) {
            writeReserved(Kind::Reserved);
        } else {
            std::lock_guard<Mutex> lock(_mutex);
            _reserved = RecordingTableElement();
        }
    }
    writeStop();
}

void RecordingTable::startSection(uint32_t id) {
    finish();
    std::lock_guard<Mutex> lock(_mutex);
    _lastTime = DateTime::INVALID;
    _last = RecordingTableElement();
    _sectionID = id;
}

void RecordingTable::update(const TimelineElement& entry, const PagePosition& entryPosition) {
    const DateTime& time = entry.time();
    if (_lastTime.isValid() &&
        (time.lessThan(_lastTime) || (time.equals(_lastTime) && time.equals(_last.time()) && _last.isStop() &&
                                      !_last.isEmpty()))) {
        startSection(_sectionID + 1);
    }
    if (_lastTime.isValid()) {
        if (time.equals(_lastTime)) {
            std::lock_guard<Mutex> lock(_mutex);
            _reserved.setChannelMask(BitMask32(_reserved.channelMask().value() | entry.channelMask().value()));
            _lastTime = time;
            _lastTimelinePosition = entryPosition;
            return;
        }
        bool pause = time.greaterThan(_lastTime.plusSeconds(1));
        if (!_reserved.isEmpty()) {
            if (_reserved.channelMask() != _last.channelMask()) {
                writeReserved(Kind::Reserved);
            } else if (!_reserved.time().date().equals(time.date()) && !pause) {
                writeReserved(Kind::EndOfDate);
            } else if (_reserved.position().number != _last.position().number) {
                writeReserved(Kind::Continuous);
            }
        }
        if (pause && !_last.isStop()) {
            writeStop();
        }
    }
    std::lock_guard<Mutex> lock(_mutex);
    _reserved = RecordingTableElement();
    _reserved.setTime(time);
    _reserved.setChannelMask(entry.channelMask());
    _reserved.setSectionID(_sectionID);
    _reserved.setPosition(entryPosition);
    _reserved.setMediaID(entry.mediaID());
    _reserved.setPrevPosition(_lastPosition);
    _reserved.setPrevMask(_lastMask);
    _lastTime = time;
    _lastTimelinePosition = entryPosition;
}

// ---- queries ------------------------------------------------------------------------

uint32_t RecordingTable::currentSectionID() {
    std::lock_guard<Mutex> lock(_mutex);
    return _sectionID;
}

bool RecordingTable::hasSection(uint32_t id) {
    std::lock_guard<Mutex> lock(_mutex);
    return _sections.count(id) > 0;
}

std::set<uint32_t> RecordingTable::sectionIDs() {
    std::lock_guard<Mutex> lock(_mutex);
    std::set<uint32_t> ids;
    for (const auto& entry : _sections) {
        ids.insert(entry.first);
    }
    return ids;
}

uint32_t RecordingTable::firstSectionID() {
    std::lock_guard<Mutex> lock(_mutex);
    return _sections.empty() ? 0 : _sections.begin()->first;
}

uint32_t RecordingTable::nextSectionID(uint32_t id, RecordingSection& out) {
    std::lock_guard<Mutex> lock(_mutex);
    auto found = _sections.upper_bound(id);
    if (found == _sections.end()) {
        return 0;
    }
    out = found->second;
    return found->first;
}

uint32_t RecordingTable::previousSectionID(uint32_t id, RecordingSection& out) {
    std::lock_guard<Mutex> lock(_mutex);
    auto found = _sections.lower_bound(id);
    if (found == _sections.begin()) {
        return 0;
    }
    --found;
    out = found->second;
    return found->first;
}

uint32_t RecordingTable::sectionOfMediaID(uint64_t id) {
    std::lock_guard<Mutex> lock(_mutex);
    for (const auto& [sectionID, section] : _sections) {
        if (section.firstMediaID() <= id && id <= section.lastMediaID()) {
            return sectionID;
        }
    }
    return 0;
}

bool RecordingTable::isSectionStart(uint64_t id) {
    std::lock_guard<Mutex> lock(_mutex);
    for (const auto& entry : _sections) {
        if (entry.second.firstMediaID() <= id && id <= entry.second.lastMediaID()) {
            return entry.second.firstMediaID() == id;
        }
    }
    return false;
}

bool RecordingTable::section(uint32_t id, RecordingSection& out) {
    std::lock_guard<Mutex> lock(_mutex);
    auto found = _sections.find(id);
    if (found == _sections.end()) {
        return false;
    }
    out = found->second;
    return true;
}

std::vector<RecordingSection> RecordingTable::sections() {
    std::lock_guard<Mutex> lock(_mutex);
    std::vector<RecordingSection> out;
    for (const auto& entry : _sections) {
        out.push_back(entry.second);
    }
    return out;
}

std::vector<RecordingTable::SectionStart> RecordingTable::sectionStarts() {
    std::lock_guard<Mutex> lock(_mutex);
    std::vector<SectionStart> out;
    for (const auto& [id, section] : _sections) {
        out.push_back(SectionStart{id, section.firstMediaID()});
    }
    return out;
}

bool RecordingTable::findRecord(uint64_t fromID, bool forward, BitMask32 channels, RecordingTableElement& out) {
    struct Range {
        uint32_t section;
        RecordingSection::PageEntry entry;
    };
    std::vector<Range> ranges;
    {
        std::lock_guard<Mutex> lock(_mutex);
        for (const auto& [id, section] : _sections) {
            for (const RecordingSection::PageEntry& entry : section.pages()) {
                ranges.push_back(Range{id, entry});
            }
        }
    }
    // Sections follow each other in media IDs, and so do their page entries.
    std::stable_sort(ranges.begin(), ranges.end(),
                     [](const Range& a, const Range& b) { return a.entry.firstID < b.entry.firstID; });
    if (!forward) {
        std::reverse(ranges.begin(), ranges.end());
    }
    auto accepts = [&](const RecordingTableElement& r) {
        bool beyond = forward ? r.mediaID() > fromID : r.mediaID() < fromID;
        return beyond && (channels.value() == 0 || (r.channelMask().value() & channels.value()) != 0);
    };
    Page page(storage()->superBlock(), storage()->pageCache());
    StorageUtility utility(*storage());
    for (const Range& range : ranges) {
        if (forward ? range.entry.lastID <= fromID : range.entry.firstID >= fromID) {
            continue;
        }
        try {
            if (!page.isLoaded() || page.pageNumber() != range.entry.page) {
                utility.loadPage(page, type(), range.entry.page, range.entry.checksum, true);
            }
        } catch (const TarsilException&) {
            continue;  // the page was given up meanwhile
        }
        if (page.isEmpty()) {
            continue;
        }
        uint32_t from = std::max(range.entry.firstOffset, page.firstItemOffset());
        uint32_t to = std::min(range.entry.lastOffset, page.lastItemOffset());
        if (from > to || (to - from) % RecordingTableElement::RecordSize != 0) {
            continue;
        }
        RecordingTableElement record;
        for (uint32_t steps = 0; steps <= (to - from) / RecordingTableElement::RecordSize; ++steps) {
            uint32_t offset = forward ? from + steps * RecordingTableElement::RecordSize
                                      : to - steps * RecordingTableElement::RecordSize;
            if (!readAt(page, offset, record)) {
                break;
            }
            if (record.sectionID() == range.section && accepts(record)) {
                out = record;
                return true;
            }
        }
    }
    return false;
}

bool RecordingTable::nextRecord(uint64_t afterID, BitMask32 channels, RecordingTableElement& out) {
    return findRecord(afterID, true, channels, out);
}

bool RecordingTable::previousRecord(uint64_t beforeID, BitMask32 channels, RecordingTableElement& out) {
    return findRecord(beforeID, false, channels, out);
}

bool RecordingTable::firstRecordOfSection(uint32_t sectionID, RecordingTableElement& out) {
    RecordingSection s;
    if (!section(sectionID, s) || s.pages().empty()) {
        return false;
    }
    const RecordingSection::PageEntry& entry = s.pages().front();
    Page page(storage()->superBlock(), storage()->pageCache());
    try {
        StorageUtility(*storage()).loadPage(page, type(), entry.page, entry.checksum, true);
    } catch (const TarsilException&) {
        return false;
    }
    return readAt(page, entry.firstOffset, out);
}

Interval RecordingTable::recordingInterval() {
    std::lock_guard<Mutex> lock(_mutex);
    DateTime from;
    DateTime to;
    for (const auto& entry : _sections) {
        Interval interval = entry.second.interval();
        if (!from.isValid() || interval.from().lessThan(from)) {
            from = interval.from();
        }
        if (!to.isValid() || interval.to().greaterThan(to)) {
            to = interval.to();
        }
    }
    if (_sections.empty()) {
        return Interval();
    }
    if (_lastTime.isValid() && _lastTime.greaterThan(to)) {
        to = _lastTime;
    }
    return Interval(from, to);
}

void RecordingTable::recordingDates(std::map<Date, DateIDs>& out) {
    std::lock_guard<Mutex> lock(_mutex);
    for (const auto& entry : _sections) {
        for (const RecordingSection::DateEntry& date : entry.second.dates()) {
            auto found = out.find(date.date);
            if (found == out.end()) {
                out[date.date] = DateIDs{date.firstID, date.lastID};
            } else {
                found->second.firstID = std::min(found->second.firstID, date.firstID);
                found->second.lastID = std::max(found->second.lastID, date.lastID);
            }
        }
    }
}

void RecordingTable::sectionRecords(uint32_t sectionID, const Interval& interval,
                                    std::vector<RecordingTableElement>& out) {
    RecordingSection s;
    if (!section(sectionID, s)) {
        return;
    }
    Page page(storage()->superBlock(), storage()->pageCache());
    StorageUtility utility(*storage());
    size_t first = out.size();
    for (const RecordingSection::PageEntry& entry : s.pages()) {
        try {
            utility.loadPage(page, type(), entry.page, entry.checksum, true);
        } catch (const TarsilException&) {
            continue;  // the page was given up meanwhile
        }
        if (page.isEmpty()) {
            continue;
        }
        uint32_t from = std::max(entry.firstOffset, page.firstItemOffset());
        uint32_t to = std::min(entry.lastOffset, page.lastItemOffset());
        for (uint32_t offset = from; offset <= to; offset += RecordingTableElement::RecordSize) {
            RecordingTableElement record;
            if (!readAt(page, offset, record)) {
                break;
            }
            if (record.sectionID() != sectionID) {
                continue;
            }
            bool inside = !interval.from().isValid() ||
                          (!record.time().lessThan(interval.from()) && !record.time().greaterThan(interval.to()));
            if (inside) {
                out.push_back(record);
            }
        }
    }
    DateTime lastTime = this->lastTime();
    if (out.size() > first && !out.back().isStop() && interval.to().isValid() && interval.to().lessThan(lastTime)) {
        RecordingTableElement stop = out.back();
        stop.setTime(interval.to());
        stop.setChannelMask(BitMask32());
        out.push_back(stop);
        logLine("Section %u STOP ADDED", sectionID);
    }
}

void RecordingTable::recordingTimeTable(BitMask32 channels, const Interval& interval, std::vector<TimeSlice>& out) {
    DateTime lastTime = this->lastTime();
    uint32_t current = currentSectionID();
    for (const RecordingSection& s : sections()) {
        QF_TRACE("SECTIONS: %u", s.id());
        std::vector<RecordingTableElement> records;
        sectionRecords(s.id(), Interval(), records);
        // The walk below turns records into slices; records outside the interval are
        // clipped afterwards, so a slice that began before the interval reaches into it.
        DateTime start;
        BitMask32 mask;
        auto close = [&](uint32_t sectionID, const DateTime& end) {
            if (!start.isValid() || (mask.value() & channels.value()) == 0) {
                start = DateTime();
                return;
            }
            DateTime from = start;
            DateTime to = end;
            if (interval.from().isValid() && from.lessThan(interval.from())) {
                from = interval.from();
            }
            if (interval.to().isValid() && to.greaterThan(interval.to())) {
                to = interval.to();
            }
            if (!to.lessThan(from)) {
                out.push_back(TimeSlice{sectionID, Interval(from, to), BitMask32(mask.value() & channels.value())});
            }
            start = DateTime();
        };
        for (const RecordingTableElement& record : records) {
            if (record.isStop()) {
                close(record.sectionID(), record.time());
            } else if (!start.isValid()) {
                start = record.time();
                mask = record.channelMask();
            } else {
                close(record.sectionID(), record.time().plusSeconds(-1));
                start = record.time();
                mask = record.channelMask();
            }
        }
        // The recording still in progress reaches to the last entry fed in.
        if (start.isValid() && s.id() == current && lastTime.isValid()) {
            close(s.id(), lastTime);
        }
    }
}

RecordingTableElement RecordingTable::lastRecord() {
    std::lock_guard<Mutex> lock(_mutex);
    return _last;
}

RecordingTableElement RecordingTable::reservedRecord() {
    std::lock_guard<Mutex> lock(_mutex);
    return _reserved;
}

DateTime RecordingTable::lastTime() {
    std::lock_guard<Mutex> lock(_mutex);
    return _lastTime;
}

// ---- overwrite and rollback ---------------------------------------------------------

bool RecordingTable::overwrite(uint64_t before) {
    RecordingTableElement scratch;
    if (!overwriteFront(before, scratch)) {
        return false;
    }
    RecordingTableElement first;
    PagePosition firstPosition;
    bool haveFirst = false;
    if (!isEmpty()) {
        StorageUtility utility(*storage());
        firstPosition = utility.firstPosition(type());
        haveFirst = firstPosition.isSet() && utility.firstItem(type(), first);
    }
    DateTime timelineTime;
    PagePosition timelinePosition;
    lastOfTimeline(timelineTime, timelinePosition);
    std::lock_guard<Mutex> lock(_mutex);
    for (auto it = _sections.begin(); it != _sections.end();) {
        if (!haveFirst || it->second.lastMediaID() < before) {
            it = _sections.erase(it);
            continue;
        }
        if (it->second.firstMediaID() < before) {
            it->second.truncateBefore(before, first, firstPosition);
        }
        ++it;
    }
    if (!haveFirst) {
        // Every record went: nothing in memory may name them any more, or a later stop
        // record would point at media that is gone.
        _last = RecordingTableElement();
        _lastPosition = PagePosition();
        _lastMask = BitMask32();
    }
    if (!_reserved.isEmpty() && _reserved.mediaID() < before) {
        _reserved = RecordingTableElement();
    }
    if (!timelineTime.isValid()) {
        _lastTime = DateTime::INVALID;
        _lastTimelinePosition = PagePosition();
        _reserved = RecordingTableElement();
    }
    return true;
}

void RecordingTable::rollback(uint64_t after, IRecordable& scratch) {
    (void)scratch;
    rollback(currentSectionID(), after);
}

void RecordingTable::rollbackAfter(uint64_t after) {
    rollback(currentSectionID(), after);
}

void RecordingTable::rollback(uint32_t section, uint64_t after) {
    uint32_t current = currentSectionID();
    if (!isEmpty()) {
        RecordingTableElement scratch;
        Track::rollback(after, scratch);
    }
    resumeFromLastRecord(current);
    if (currentSectionID() < std::max(current, section)) {
        startSection(std::max(current, section));
    }
    RecordingTableElement reserved = reservedRecord();
    logLine("RecordingTable::rollback : reserved rollbacked (%u, %u) %u %s", reserved.position().number,
            reserved.position().offset, reserved.channelMask().value(), textOf(reserved.time()).c_str());
}

uint32_t RecordingTable::catchUpWithTimeline() {
    return resumeFromLastRecord(currentSectionID());
}

uint32_t RecordingTable::resumeFromLastRecord(uint32_t sectionWhenEmpty) {
    {
        std::lock_guard<Mutex> lock(_mutex);
        _reserved = RecordingTableElement();
    }
    rebuild();  // the sections and the back chain, as at open, from what is left
    RecordingTableElement last = lastRecord();
    PagePosition from;
    DateTime lastTime;
    if (last.isEmpty()) {
        resetInternals(sectionWhenEmpty);
    } else {
        std::lock_guard<Mutex> lock(_mutex);
        if (last.channelMask() == last.prevMask() && !last.isStop()) {
            _lastPosition = last.prevPosition();
        }
        _lastTime = last.time();
        _lastTimelinePosition = last.position();
        lastTime = last.time();
        from = last.position();
        if (!last.isStop()) {
            _reserved = last;
        }
    }
    logLine("[ROLLBACK] last: id=%llu %s mask=%u prev=%u position=(%u, %u) prevPosition=(%u, %u)",
            static_cast<unsigned long long>(last.mediaID()), textOf(last.time()).c_str(), last.channelMask().value(),
            last.prevMask().value(), last.position().number, last.position().offset, last.prevPosition().number,
            last.prevPosition().offset);
    return replayTimelineFrom(from, lastTime);
}

uint32_t RecordingTable::replayTimelineFrom(const PagePosition& position, const DateTime& after) {
    auto* timeline = dynamic_cast<Timeline*>(storage()->track(PageType::Timeline));
    if (timeline == nullptr || !storage()->hasTrack(PageType::Timeline)) {
        return 0;
    }
    uint32_t fed = 0;
    Page page(storage()->superBlock(), storage()->pageCache());
    TimelineElement entry;
    PagePosition at = position;
    bool ok;
    if (at.isSet()) {
        ok = timeline->read(page, at, entry) && timeline->next(page, at, entry);
    } else {
        at = StorageUtility(*storage()).firstPosition(PageType::Timeline);
        ok = at.isSet() && timeline->read(page, at, entry);
    }
    for (; ok; ok = timeline->next(page, at, entry)) {
        if (after.isValid() && !entry.time().greaterThan(after)) {
            std::lock_guard<Mutex> lock(_mutex);
            _lastTime = entry.time();
            _lastTimelinePosition = at;
            continue;
        }
        if (entry.mediaType() == 0) {
            update(entry, at);
            ++fed;
        }
    }
    return fed;
}
