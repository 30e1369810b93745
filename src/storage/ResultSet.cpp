#include "storage/ResultSet.h"

#include <cstdarg>
#include <cstdio>
#include <thread>

#include "base/Exception.h"
#include "storage/MediaElement.h"
#include "storage/RecordingTable.h"
#include "storage/Storage.h"
#include "storage/StorageUtility.h"
#include "storage/TextInElement.h"
#include "storage/TextInTrack.h"
#include "storage/Timeline.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"

namespace {

bool isVideo(const TimelineElement& element) {
    return element.mediaType() == TimelineLinkedElement::Video;
}

bool hasChannels(const TimelineElement& element, BitMask32 channels) {
    return (element.channelMask().value() & channels.value()) != 0;
}

}  // namespace

ResultSet::ResultSet() = default;

ResultSet::~ResultSet() {
    release();
}

void ResultSet::log(const char* fmt, ...) {
    if (_storage == nullptr) {
        return;
    }
    char line[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    _storage->logFromReader(line);
}

// ---- binding and positioning --------------------------------------------------------

void ResultSet::unloadPages() {
    for (std::unique_ptr<Page>* page : {&_page, &_walkPage, &_media[0], &_media[1], &_textPage}) {
        page->reset();
    }
}

void ResultSet::close() {
    release();
}

void ResultSet::release() {
    unloadPages();
    _storage = nullptr;
    _timeline = nullptr;
    _cursor = PagePosition();
    _pending = Pending::None;
    _sectionTag = 0;
    _keys.clear();
}

bool ResultSet::bind(Storage* storage, bool keyFramesOnly) {
    release();
    if (storage == nullptr || storage->timeline() == nullptr || !storage->isValid()) {
        return false;
    }
    _storage = storage;
    _timeline = storage->timeline();
    _keyFramesOnly = keyFramesOnly;
    SuperBlock& superBlock = storage->superBlock();
    PageCache& cache = storage->pageCache();
    for (std::unique_ptr<Page>* page : {&_page, &_walkPage, &_media[0], &_media[1], &_textPage}) {
        *page = std::make_unique<Page>(superBlock, cache);
    }
    _currentMedia = 0;
    return true;
}

bool ResultSet::place(const PagePosition& position, Pending pending) {
    if (_timeline == nullptr || !position.isSet() || !_timeline->seek(*_page, position)) {
        return false;
    }
    _cursor = position;
    _pending = pending;
    return true;
}

bool ResultSet::initToBegin(Storage* storage, bool keyFramesOnly) {
    if (!bind(storage, keyFramesOnly)) {
        return false;
    }
    try {
        return place(StorageUtility(*storage).firstPosition(PageType::Timeline), Pending::Forward);
    } catch (const Exception&) {
        return false;  // the first page does not carry its link: nothing to read from there
    }
}

bool ResultSet::initToEnd(Storage* storage, bool keyFramesOnly) {
    if (!bind(storage, keyFramesOnly)) {
        return false;
    }
    try {
        return place(StorageUtility(*storage).lastPosition(PageType::Timeline), Pending::Backward);
    } catch (const Exception&) {
        return false;
    }
}

bool ResultSet::seek(const PagePosition& position) {
    _keys.clear();
    return place(position, Pending::None);
}

bool ResultSet::lostPosition() {
    return _timeline == nullptr || !_cursor.isSet() || !_timeline->seek(*_walkPage, _cursor);
}

// ---- walking ------------------------------------------------------------------------

bool ResultSet::step(bool forward, TimelineElement& element) {
    if (_timeline == nullptr) {
        return false;
    }
    if (_pending == (forward ? Pending::Forward : Pending::Backward)) {
        if (!_timeline->read(*_page, _cursor, element)) {
            return false;
        }
        _pending = Pending::None;
        return true;
    }
    PagePosition at = _cursor;
    if (!(forward ? _timeline->next(*_page, at, element) : _timeline->previous(*_page, at, element))) {
        return false;
    }
    _cursor = at;
    _pending = Pending::None;
    return true;
}

bool ResultSet::pageHasChannels(BitMask32 channels) {
    return (_page->itemFlags() & channels.value()) != 0;
}

bool ResultSet::jumpForward(BitMask32 channels, TimelineElement& element) {
    RecordingTable* table = _storage->recordingTable();
    if (table == nullptr) {
        return true;  // nothing to jump with: the page is walked
    }
    RecordingTableElement record;
    if (!table->nextRecord(_page->lastItemID(), channels, record)) {
        // Nothing recorded later holds the channels, as far as the table knows yet. The
        // cursor moves to the page's last element, so a later read goes on after it.
        _cursor = PagePosition(_page->pageNumber(), _page->lastItemOffset());
        _pending = Pending::None;
        return false;
    }
    PagePosition at = record.position();
    if (!_timeline->read(*_page, at, element)) {
        return false;
    }
    _cursor = at;
    _pending = Pending::None;
    return true;
}

bool ResultSet::jumpBackward(BitMask32 channels, TimelineElement& element) {
    RecordingTable* table = _storage->recordingTable();
    if (table == nullptr) {
        return true;
    }
    uint64_t first = _page->firstItemID();
    RecordingTableElement record;
    if (!table->previousRecord(first, channels, record)) {
        _cursor = PagePosition(_page->pageNumber(), _page->firstItemOffset());
        _pending = Pending::None;
        return false;
    }
    // The channels were recorded from that record until the record after it: reading
    // goes on backwards from just before the one after.
    RecordingTableElement following;
    if (!table->nextRecord(record.mediaID(), BitMask32(0), following) || following.mediaID() >= first) {
        return true;  // the page lies inside that stretch after all: it is walked
    }
    PagePosition at = following.position();
    if (!_timeline->read(*_page, at, element) || !_timeline->previous(*_page, at, element)) {
        return false;
    }
    _cursor = at;
    _pending = Pending::None;
    return true;
}

bool ResultSet::readElement(bool forward, BitMask32 channels, TimelineElement& element, PagePosition& position) {
    for (;;) {
        bool fresh = _pending == (forward ? Pending::Forward : Pending::Backward);
        uint32_t page = _cursor.number;
        if (!step(forward, element)) {
            return false;
        }
        // Page flags are looked at when a page is entered; the page a jump lands on is
        // walked whatever its flags say (the channels may begin on the next one).
        if ((fresh || _cursor.number != page) && !pageHasChannels(channels) &&
            !(forward ? jumpForward(channels, element) : jumpBackward(channels, element))) {
            return false;
        }
        if (!hasChannels(element, channels)) {
            continue;
        }
        if (isVideo(element) && element.syncIndex() == 0) {
            rememberKey(element);
        }
        position = _cursor;
        _sectionTag = _page->pageTag();
        return true;
    }
}

bool ResultSet::nextElement(BitMask32 channels, TimelineElement& element, PagePosition& position) {
    return readElement(true, channels, element, position);
}

bool ResultSet::previousElement(BitMask32 channels, TimelineElement& element, PagePosition& position) {
    return readElement(false, channels, element, position);
}

// ---- key groups ---------------------------------------------------------------------

bool ResultSet::needsKey(const TimelineElement& element) const {
    if (!isVideo(element) || element.syncIndex() == 0) {
        return false;
    }
    auto found = _keys.find(element.channelMask().value());
    return found == _keys.end() || found->second != element.syncKeyID();
}

uint64_t ResultSet::firstTimelineID() {
    TrackListItem track;
    if (!_storage->findTrack(PageType::Timeline, track)) {
        return ~uint64_t(0);
    }
    try {
        StorageUtility(*_storage).loadPage(*_walkPage, PageType::Timeline, track.firstPage(),
                                           track.firstPageChecksum(), true);
    } catch (const Exception&) {
        return ~uint64_t(0);
    }
    return _walkPage->firstItemID();
}

bool ResultSet::completeKeyGroup(const TimelineElement& element, Elements& group) {
    group.clear();
    // Entries before the timeline's first one were given up: a page freed by an overwrite
    // may still hold them, but the frames they name are no longer the storage's.
    uint64_t floor = firstTimelineID();
    Elements found;
    TimelineElement current = element;
    PagePosition at = element.previousPosition();
    for (uint32_t i = element.syncIndex(); i > 0; --i) {
        TimelineElement before;
        if (!at.isSet() || !_timeline->read(*_walkPage, at, before)) {
            log("INVALID POSITION: (%u, %u)", at.number, at.offset);
            return false;
        }
        if (before.mediaID() < floor) {
            log("INVALID POSITION: (%u, %u)", at.number, at.offset);
            return false;
        }
        if (!isVideo(before) || uint32_t(before.syncIndex()) + 1 != current.syncIndex() ||
            before.syncKeyID() != current.syncKeyID() ||
            before.channelMask().value() != current.channelMask().value()) {
            return false;
        }
        if (!_keyFramesOnly || before.syncIndex() == 0) {
            found.push_back(before);
        }
        current = before;
        at = before.previousPosition();
    }
    group.assign(found.rbegin(), found.rend());
    rememberKey(element);
    return true;
}

bool ResultSet::next(BitMask32 channels, Elements& out, PagePosition& position) {
    out.clear();
    TimelineElement element;
    for (;;) {
        if (!nextElement(channels, element, position)) {
            return false;
        }
        if (needsKey(element)) {
            log("ResultSet::next() NEED KEY=%u", element.syncKeyID());
            if (!completeKeyGroup(element, out)) {
                out.clear();
                continue;  // undecodable: the following element is taken
            }
        }
        out.push_back(element);
        return true;
    }
}

bool ResultSet::previous(BitMask32 channels, Elements& out, PagePosition& position) {
    out.clear();
    TimelineElement element;
    for (;;) {
        if (!previousElement(channels, element, position)) {
            return false;
        }
        bool complete = isVideo(element) && element.syncIndex() != 0 && (!_keyFramesOnly || needsKey(element));
        if (complete && !completeKeyGroup(element, out)) {
            out.clear();
            continue;
        }
        out.push_back(element);
        return true;
    }
}

// ---- seeking ------------------------------------------------------------------------

bool ResultSet::recordFor(uint32_t section, const DateTime& at, PagePosition& position) {
    std::vector<RecordingTableElement> records;
    _storage->sectionRecords(section, Interval(), records);
    const RecordingTableElement* chosen = nullptr;
    for (const RecordingTableElement& record : records) {
        if (record.isStop()) {
            continue;
        }
        if (at.isValid() && record.time().greaterThan(at)) {
            if (chosen == nullptr) {
                chosen = &record;
            }
            break;
        }
        chosen = &record;
        if (!at.isValid()) {
            break;
        }
    }
    if (chosen == nullptr) {
        return false;
    }
    position = chosen->position();
    return true;
}

bool ResultSet::seekToTime(uint32_t section, BitMask32 channels, const Interval& range, Elements& out,
                           PagePosition& position) {
    out.clear();
    PagePosition start;
    RecordingTable* table = _storage != nullptr ? _storage->recordingTable() : nullptr;
    if (table == nullptr || !recordFor(section, range.from(), start) || !place(start, Pending::Forward)) {
        return false;
    }
    // The section ends where the next one of this storage begins.
    RecordingSection next;
    uint64_t end = table->nextSectionID(section, next) != 0 ? next.firstMediaID() : ~uint64_t(0);
    auto inRange = [&](const TimelineElement& e) {
        return e.mediaID() < end && (!range.to().isValid() || !e.time().greaterThan(range.to()));
    };
    TimelineElement element;
    for (;;) {
        if (!nextElement(channels, element, position) || !inRange(element)) {
            return false;
        }
        if (isVideo(element) && (!range.from().isValid() || !element.time().lessThan(range.from()))) {
            break;
        }
        std::this_thread::yield();
    }
    _keys.clear();
    if (element.syncIndex() == 0) {
        rememberKey(element);
    } else if (!completeKeyGroup(element, out)) {
        // The key group began before the range: the first key frame inside it instead.
        do {
            std::this_thread::yield();
            if (!nextElement(channels, element, position) || !inRange(element)) {
                return false;
            }
        } while (!isVideo(element) || element.syncIndex() != 0);
        out.clear();
    }
    out.push_back(element);
    return true;
}

bool ResultSet::seekBackToTime(uint32_t section, BitMask32 channels, const DateTime& time, Elements& out,
                               PagePosition& position) {
    out.clear();
    RecordingTable* table = _storage != nullptr ? _storage->recordingTable() : nullptr;
    RecordingSection s;
    if (table == nullptr || !table->section(section, s)) {
        return false;
    }
    // Backwards from the first record after `time`, else from the section's end.
    std::vector<RecordingTableElement> records;
    _storage->sectionRecords(section, Interval(), records);
    PagePosition from;
    for (const RecordingTableElement& record : records) {
        if (!record.isStop() && record.time().greaterThan(time)) {
            from = record.position();
            break;
        }
    }
    RecordingSection next;
    RecordingTableElement nextFirst;
    bool placed = false;
    if (from.isSet()) {
        placed = place(from, Pending::None);
    } else if (table->nextSectionID(section, next) != 0 && table->firstRecordOfSection(next.id(), nextFirst)) {
        placed = place(nextFirst.position(), Pending::None);
    } else {
        try {
            placed = place(StorageUtility(*_storage).lastPosition(PageType::Timeline), Pending::Backward);
        } catch (const Exception&) {
            placed = false;
        }
    }
    if (!placed) {
        return false;
    }
    TimelineElement element;
    for (;;) {
        if (!previousElement(channels, element, position)) {
            return false;
        }
        if (isVideo(element) && element.mediaID() < s.firstMediaID()) {
            return false;  // back in the section before
        }
        if (isVideo(element) && !element.time().greaterThan(time)) {
            break;
        }
        std::this_thread::yield();
    }
    _keys.clear();
    if (element.syncIndex() == 0) {
        rememberKey(element);
    } else if (!completeKeyGroup(element, out)) {
        return false;
    }
    out.push_back(element);
    return true;
}

bool ResultSet::seekToMediaID(uint64_t id, BitMask32 channels) {
    RecordingTable* table = _storage != nullptr ? _storage->recordingTable() : nullptr;
    RecordingTableElement record;
    if (table == nullptr || id == 0 || !table->previousRecord(id + 1, channels, record) ||
        !place(record.position(), Pending::Forward)) {
        return false;
    }
    PagePosition found;
    TimelineElement element;
    while (step(true, element) && element.mediaID() < id) {
        if (isVideo(element) && hasChannels(element, channels)) {
            found = _cursor;
        }
    }
    _keys.clear();
    return found.isSet() && place(found, Pending::None);
}

// ---- frames -------------------------------------------------------------------------

Page* ResultSet::mediaPageHolding(uint32_t number) {
    for (int i : {_currentMedia, 1 - _currentMedia}) {
        if (_media[i]->isLoaded() && _media[i]->pageNumber() == number) {
            _currentMedia = i;
            return _media[i].get();
        }
    }
    _media[_currentMedia]->load(number, true);
    return _media[_currentMedia].get();
}

bool ResultSet::readFrame(const TimelineElement& element, MediaElement& header, const uint8_t* parts[2],
                          uint32_t lengths[2]) {
    parts[0] = parts[1] = nullptr;
    lengths[0] = lengths[1] = 0;
    if (_storage == nullptr || element.mediaType() == TimelineLinkedElement::TextIn) {
        return false;
    }
    SuperBlock& superBlock = _storage->superBlock();
    const PagePosition& at = element.mediaPosition();
    uint32_t pageSize = superBlock.pageSize();
    if (!superBlock.isPageNumber(at.number) || uint64_t(at.offset) + MediaElement::HeaderSize > pageSize) {
        log("ResultSet::readFrame() INVALID POSITION: (%u, %u)", at.number, at.offset);
        return false;
    }
    Page* page = mediaPageHolding(at.number);
    auto isMediaPage = [](Page& p) { return p.type().equals(PageType::Media) || p.type().equals(PageType::PreEvent); };
    if (!isMediaPage(*page)) {
        return false;
    }
    if ((page->isEmpty() || page->lastItemOffset() < at.offset) && page->isCopy()) {
        // A copy of the page being written, taken before the frame was appended.
        uint32_t checksum = page->checksum();
        page->load(at.number, true);
        if (!isMediaPage(*page) || page->checksum() != checksum) {
            return false;
        }
    }
    if (page->isEmpty() || at.offset < page->firstItemOffset() || page->lastItemOffset() < at.offset) {
        return false;
    }
    header.readFrom(page->buffer(), static_cast<int>(at.offset));
    if (header.mediaID() != element.mediaID() || header.channelMask().value() != element.channelMask().value() ||
        header.syncKeyID() != element.syncKeyID() || header.syncIndex() != element.syncIndex() ||
        header.mediaType() != element.mediaType()) {
        log("ResultSet::readFrame() HEADER MISMATCH at (%u, %u)", at.number, at.offset);
        return false;
    }
    uint64_t size = uint32_t(header.dataSize());
    uint32_t start = at.offset + MediaElement::HeaderSize;
    if (start + size <= pageSize) {
        parts[0] = page->data() + start;
        lengths[0] = static_cast<uint32_t>(size);
        return true;
    }
    uint32_t here = pageSize - start;
    uint64_t rest = size - here;
    if (rest > pageSize - Page::IndexData) {
        return false;  // no frame continues beyond one further page
    }
    if (page->next() == 0 && page->isCopy()) {
        uint32_t checksum = page->checksum();
        page->load(at.number, true);  // the writer may have linked the continuation since
        if (!isMediaPage(*page) || page->checksum() != checksum) {
            return false;
        }
    }
    uint32_t next = page->next();
    if (next == 0 || !superBlock.isPageNumber(next)) {
        return false;
    }
    Page* tail = _media[1 - _currentMedia].get();
    tail->load(next, true);
    if (!tail->type().equals(page->type()) || tail->checksum() != page->nextChecksum() ||
        tail->previous() != page->pageNumber() || tail->firstItemOffset() != Page::IndexData + rest) {
        log("ResultSet::readFrame() CONTINUATION of (%u, %u) does not hold", at.number, at.offset);
        return false;
    }
    if (here == 0) {
        parts[0] = tail->data() + Page::IndexData;
        lengths[0] = static_cast<uint32_t>(size);
    } else {
        parts[0] = page->data() + start;
        lengths[0] = here;
        parts[1] = tail->data() + Page::IndexData;
        lengths[1] = static_cast<uint32_t>(rest);
    }
    _currentMedia = 1 - _currentMedia;
    return true;
}

bool ResultSet::readTextIn(const TimelineElement& element, TextInElement& text) {
    TextInTrack* track = _storage != nullptr ? _storage->textInTrack() : nullptr;
    if (track == nullptr || element.mediaType() != TimelineLinkedElement::TextIn) {
        return false;
    }
    const PagePosition& at = element.mediaPosition();
    if (!track->read(*_textPage, at, text)) {
        if (!_textPage->isLoaded() || !_textPage->isCopy()) {
            return false;
        }
        _textPage->reset();  // a copy of the page being written, older than the element
        if (!track->read(*_textPage, at, text)) {
            return false;
        }
    }
    return text.channelMask().value() == 0 ||
           (text.mediaID() == element.mediaID() && text.channelMask().value() == element.channelMask().value() &&
            text.syncIndex() == element.syncIndex());
}
