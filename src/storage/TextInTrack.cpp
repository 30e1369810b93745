#include "storage/TextInTrack.h"

#include <cstring>
#include <mutex>

#include "base/TextOf.h"
#include "storage/Storage.h"
#include "storage/TrackIterator.h"
#include "storage/pager/Page.h"
#include "storage/pager/TrackListItem.h"

TextInTrack::TextInTrack() : Track(PageType::TextIn, TextInElement::RecordSize) {}

TextInTrack::~TextInTrack() = default;

std::unique_ptr<IRecordable> TextInTrack::newElement() const {
    return std::make_unique<TextInElement>();
}

bool TextInTrack::isStopElement(const TextInElement& e) {
    return e.channelMask().value() == 0 && std::strcmp(e.text(), StopText) == 0;
}

void TextInTrack::init(Storage* storage, bool write, uint32_t lastPageNumber) {
    {
        std::lock_guard<Mutex> lock(_mutex);
        _lastUpdatePosition = PagePosition();
        _lastTime = DateTime::INVALID;
        _afterStop = false;
    }
    Track::init(storage, write, lastPageNumber);
    Page* page = currentPage();
    if (page != nullptr && !page->isEmpty()) {
        TextInElement last;
        if (readAt(*page, page->lastItemOffset(), last)) {
            if (write && (last.flags() & 2u) == 0) {
                std::lock_guard<Mutex> lock(page->mutex());
                last.setFlags(last.flags() | 2u);
                last.writeTo(page->buffer(), static_cast<int>(page->lastItemOffset()));
            }
            std::lock_guard<Mutex> lock(_mutex);
            _lastUpdatePosition = last.position();
            _lastTime = last.time();
            _afterStop = isStopElement(last);
            if (_afterStop) {
                _lastUpdatePosition = PagePosition(page->pageNumber(), page->lastItemOffset());
            }
        }
    } else if (page != nullptr && write) {
        page->buffer().setPosition(static_cast<int>(page->firstItemOffset()));
        setCursor(PagePosition(page->pageNumber(), page->firstItemOffset()));
    }
    rebuildSections();
}

bool TextInTrack::close(bool flush) {
    bool ok = Track::close(flush);
    std::lock_guard<Mutex> lock(_mutex);
    _sections.clear();
    _pageIndex.clear();
    return ok;
}

void TextInTrack::rebuildSections() {
    std::vector<TextSection> sections;
    TrackPageIndex index;
    index.rebuild(*storage(), type());
    if (!index.entries().empty()) {
        TrackIterator it(*storage(), type());
        TextInElement e;
        bool open = false;
        for (it.toFirst(); it.read(e); it.next()) {
            if (!open) {
                sections.push_back(TextSection{it.position(), e.time(), e.time(), e.mediaID(), e.mediaID()});
                open = true;
            } else {
                sections.back().lastTime = e.time();
                sections.back().lastID = e.mediaID();
            }
            if (isStopElement(e)) {
                open = false;
            }
        }
    }
    std::lock_guard<Mutex> lock(_mutex);
    _sections = std::move(sections);
    _pageIndex = index;
}

void TextInTrack::writeStop(const TextInElement& cause) {
    if (isEmpty()) {
        return;
    }
    TextInElement stop;
    {
        std::lock_guard<Mutex> lock(_mutex);
        stop.setTime(_sections.empty() ? _lastTime : _sections.back().lastTime);
        stop.setPosition(_lastUpdatePosition);
    }
    stop.setSyncIndex(0);
    stop.setSyncKeyID(0);
    stop.setSectionID(cause.sectionID());
    stop.setChannelMask(BitMask32());
    stop.setMediaID(cause.mediaID());
    stop.setText(StopText);
    PagePosition position = Track::write(stop);
    logLine("TextInTrack :: WRITE STOP");
    std::lock_guard<Mutex> lock(_mutex);
    _lastUpdatePosition = position;
    _afterStop = true;
    logLine("<write> writeStop : _lastUpdatePosition update (%u,%u)", position.number, position.offset);
    if (!_sections.empty()) {
        _sections.back().lastID = stop.mediaID();
    }
    _pageIndex.noteWrite(*currentPage());
}

PagePosition TextInTrack::writeTextIn(TextInElement& element) {
    DateTime lastTime;
    {
        std::lock_guard<Mutex> lock(_mutex);
        lastTime = _lastTime;
    }
    const DateTime& time = element.time();
    if (lastTime.isValid() &&
        (!time.date().equals(lastTime.date()) || time.time().lessThan(lastTime.time()))) {
        writeStop(element);
    }
    PagePosition head;
    bool afterStop = false;
    {
        std::lock_guard<Mutex> lock(_mutex);
        head = _lastUpdatePosition;
        afterStop = _afterStop;
        _afterStop = false;
    }
    element.setPosition(head);
    PagePosition position = Track::write(element);
    std::lock_guard<Mutex> lock(_mutex);
    _pageIndex.noteWrite(*currentPage());
    if (!head.isSet() || afterStop) {
        logLine(!head.isSet() ? " >>> Text-In Track Make <<<" : " >>> Text-In Track Written Stop Code <<<");
        _sections.push_back(TextSection{position, time, time, element.mediaID(), element.mediaID()});
        _lastUpdatePosition = position;
    } else if (!_sections.empty()) {
        _sections.back().lastTime = time;
        _sections.back().lastID = element.mediaID();
    }
    _lastTime = time;
    return position;
}

bool TextInTrack::overwrite(uint64_t before) {
    TextInElement scratch;
    if (!overwriteFront(before, scratch)) {
        return false;
    }
    rebuildSections();
    if (isEmpty()) {
        std::lock_guard<Mutex> lock(_mutex);
        _lastUpdatePosition = PagePosition();
        _lastTime = DateTime::INVALID;
    }
    return true;
}

void TextInTrack::rollback(uint64_t after, IRecordable& scratch) {
    Track::rollback(after, scratch);
    {
        std::lock_guard<Mutex> lock(_mutex);
        _lastUpdatePosition = PagePosition();
        _lastTime = DateTime::INVALID;
    }
    Page* page = currentPage();
    TextInElement last;
    if (page != nullptr && !page->isEmpty() && readAt(*page, page->lastItemOffset(), last)) {
        std::lock_guard<Mutex> lock(_mutex);
        _afterStop = isStopElement(last);
        _lastUpdatePosition = _afterStop ? PagePosition(page->pageNumber(), page->lastItemOffset()) : last.position();
        _lastTime = last.time();
    }
    rebuildSections();
}

void TextInTrack::elements(const Interval& interval, std::vector<TextInElement>& out, int maxCount) {
    logLine("search<1> to : %s", textOf(interval).c_str());
    TrackIterator it(*storage(), type());
    TextInElement e;
    for (it.toFirst(); it.read(e); it.next()) {
        if (isStopElement(e)) {
            continue;
        }
        bool inside = !interval.from().isValid() ||
                      (!e.time().lessThan(interval.from()) && !e.time().greaterThan(interval.to()));
        if (inside) {
            if (maxCount > 0 && out.size() >= size_t(maxCount)) {
                return;
            }
            out.push_back(e);
        }
    }
}

void TextInTrack::calendarDates(std::set<Date>& out) {
    std::lock_guard<Mutex> lock(_mutex);
    for (const TextSection& s : _sections) {
        out.insert(s.firstTime.date());
        out.insert(s.lastTime.date());
    }
}

std::vector<TextInTrack::TextSection> TextInTrack::sections() {
    std::lock_guard<Mutex> lock(_mutex);
    return _sections;
}
