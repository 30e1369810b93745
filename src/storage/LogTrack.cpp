#include "storage/LogTrack.h"

#include <cstring>
#include <mutex>

#include "base/Clock.h"
#include "base/SystemException.h"
#include "base/TarsilException.h"
#include "base/Trace.h"
#include "storage/LogElement.h"
#include "storage/Storage.h"
#include "storage/TarsilError.h"
#include "storage/pager/CircularPage.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"

namespace {

bool isUsableLogPage(CircularPage& page, uint32_t checksum, uint32_t superChecksum) {
    return page.type().equals(PageType::Log) && page.itemSize() == LogElement::RecordSize &&
           page.checksum() == checksum && page.superChecksum() == superChecksum && page.isConsistent();
}

// Clears a flag for the scope's end, whatever ends it.
class BusyScope {
public:
    explicit BusyScope(bool& flag) : _flag(flag) { _flag = true; }
    ~BusyScope() { _flag = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& _flag;
};

}  // namespace

LogTrack::LogTrack() : Track(PageType::Log, LogElement::RecordSize) {}

LogTrack::~LogTrack() = default;

std::unique_ptr<IRecordable> LogTrack::newElement() const {
    return std::make_unique<LogElement>();
}

void LogTrack::init(Storage* storage, bool write, uint32_t pageNumber) {
    Track::init(storage, write, 0);
    _page = std::make_unique<CircularPage>(storage->superBlock(), storage->pageCache());
    _sequence = 0;
    if (pageNumber == 0) {
        return;
    }
    SuperBlock& superBlock = storage->superBlock();
    TrackListItem item;
    uint32_t checksum = storage->findTrack(PageType::Log, item) ? item.lastPageChecksum() : 0;
    if (!superBlock.isPageNumber(pageNumber)) {
        QF_THROW_TARSIL(TarsilError::StorageCorrupted);
    }
    bool loaded = false;
    try {
        _page->load(pageNumber, !write);
        loaded = isUsableLogPage(*_page, checksum, superBlock.checksum());
    } catch (const SystemException&) {
        loaded = false;
    }
    if (!loaded) {
        _page->reset();
        if (!write) {
            return;
        }
        // A log must never keep the storage from opening: the page starts again empty,
        // with the checksum the track list expects.
        _page->init(PageType::Log, pageNumber, LogElement::RecordSize, 0, 0);
        _page->setChecksum(checksum);
        setCurrent(_page.get());
        char line[64];
        std::snprintf(line, sizeof line, "page %u header load fail", pageNumber);
        log(0, line);
        return;
    }
    setCurrent(_page.get());
    if (!_page->isEmpty()) {
        LogElement last;
        _page->readItem(_page->itemCount() - 1, last);
        _sequence = last.sequence();
    }
}

bool LogTrack::isEmpty() {
    return !_page || !_page->isLoaded() || _page->isEmpty();
}

void LogTrack::createPage() {
    uint32_t number = storage()->findNextWritablePageNumber(PageType::Log);
    if (number == 0) {
        QF_THROW_TARSIL(TarsilError::NotEnoughSpace);
    }
    _page->init(PageType::Log, number, LogElement::RecordSize, 0, 0);
    storage()->registerPage(*_page);
    setCurrent(_page.get());
}

void LogTrack::push(const LogElement& element) {
    if (_page->isFull()) {
        _page->popFront();
    }
    _page->push(element);
}

void LogTrack::log(int level, const char* text) {
    if (_busy || !isWritable() || !_page) {
        QF_TRACE("<TARSIL LOG (not stored): %s>", text);
        return;
    }
    BusyScope busy(_busy);
    if (!_page->isLoaded()) {
        createPage();
    }
    ++_sequence;
    DateTime now = Clock::current().now();
    size_t length = std::strlen(text);
    const int chunk = LogElement::TextCapacity - 1;
    std::lock_guard<Mutex> lock(_page->mutex());
    uint16_t part = 0;
    size_t offset = 0;
    do {
        LogElement element;
        element.setSequence(_sequence);
        element.setTime(now);
        element.setLevel(static_cast<uint16_t>(level));
        element.setPart(part++);
        int n = static_cast<int>(length - offset < size_t(chunk) ? length - offset : size_t(chunk));
        element.setText(text + offset, n);
        push(element);
        offset += static_cast<size_t>(n);
    } while (offset < length);
}

void LogTrack::flush() {
    if (_busy || !isWritable() || !_page || !_page->isLoaded() || _page->buffer().isClean()) {
        return;
    }
    BusyScope busy(_busy);
    storage()->flushPage(*_page);
}

bool LogTrack::close(bool flush) {
    bool ok = true;
    if (flush) {
        try {
            this->flush();
        } catch (const SystemException&) {
            ok = false;
        }
    }
    if (_page) {
        _page->reset();
    }
    _sequence = 0;
    Track::close(false);
    return ok;
}

std::vector<LogTrack::Message> LogTrack::readRing(CircularPage& page) {
    std::vector<Message> out;
    uint32_t count = page.itemCount();
    for (uint32_t i = 0; i < count; ++i) {
        LogElement element;
        page.readItem(i, element);
        if (element.part() != 0 && !out.empty() && out.back().sequence == element.sequence()) {
            out.back().text += element.text();
            continue;
        }
        Message message;
        message.sequence = element.sequence();
        message.time = element.time();
        message.level = element.level();
        message.text = element.text();
        out.push_back(std::move(message));
    }
    return out;
}

std::vector<LogTrack::Message> LogTrack::messages(Storage& storage) {
    LogTrack& track = storage.logTrack();
    if (track._page && track._page->isLoaded()) {
        std::lock_guard<Mutex> lock(track._page->mutex());
        return readRing(*track._page);
    }
    TrackListItem item;
    if (!storage.findTrack(PageType::Log, item) || !storage.superBlock().isPageNumber(item.lastPage())) {
        return {};
    }
    CircularPage page(storage.superBlock(), storage.pageCache());
    page.loadForRead(item.lastPage());
    if (!isUsableLogPage(page, item.lastPageChecksum(), storage.superBlock().checksum())) {
        return {};
    }
    return readRing(page);
}
