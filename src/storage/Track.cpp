#include "storage/Track.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "base/SystemException.h"
#include "base/TarsilException.h"
#include "base/TextOf.h"
#include "storage/IRecordable.h"
#include "storage/OverflowRemainingWriter.h"
#include "storage/Storage.h"
#include "storage/TarsilError.h"
#include "storage/pager/FreePageList.h"
#include "storage/pager/IFreePageAllocator.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"
#include "storage/transaction/OverwriteTransaction.h"
#include "storage/transaction/PageFlushTransaction.h"
#include "storage/transaction/RollbackTransaction.h"
#include "storage/transaction/TrackDeletionTransaction.h"

Track::Track(const PageType& type, uint32_t itemSize) : _type(type), _itemSize(itemSize) {}

Track::~Track() = default;

void Track::logLine(const char* fmt, ...) {
    if (_storage == nullptr) {
        return;
    }
    char line[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    _storage->log(line, 2, false);
}

void Track::removeAll() {
    overwrite(~uint64_t(0));
}

bool Track::overwrite(uint64_t before) {
    (void)before;
    return false;
}

uint32_t Track::nextWritablePageNumber() {
    return _storage->findNextWritablePageNumber(type());
}

void Track::loadCurrentForWrite(uint32_t number) {
    _current->loadForWrite(number);
}

Page* Track::otherPage() {
    return _current == _pages[0].get() ? _pages[1].get() : _pages[0].get();
}

uint32_t Track::freeBytes() {
    if (_current == nullptr || !_current->isLoaded()) {
        return 0;
    }
    uint32_t pageSize = _storage->superBlock().pageSize();
    uint32_t position = static_cast<uint32_t>(_current->buffer().position());
    return position < pageSize ? pageSize - position : 0;
}

bool Track::isEmpty() {
    return _current == nullptr || (_current->isEmpty() && _current->previous() == 0);
}

bool Track::hasRoomFor(const IRecordable& element) {
    return freeBytes() >= static_cast<uint32_t>(element.headerSize() + element.dataSize());
}

void Track::loadChecked(Page& page, uint32_t number, uint32_t checksum) {
    SuperBlock& superBlock = _storage->superBlock();
    if (!superBlock.isPageNumber(number)) {
        QF_THROW_TARSIL(TarsilError::StorageCorrupted);
    }
    page.load(number, !_write);
    bool belongs = page.type().equals(_type) && page.checksum() == checksum &&
                   page.superChecksum() == superBlock.checksum() && page.itemSize() == _itemSize &&
                   page.firstItemOffset() >= Page::IndexData && page.lastItemOffset() >= Page::IndexData &&
                   page.lastItemOffset() + _itemSize <= superBlock.pageSize();
    if (!belongs) {
        page.reset();
        QF_THROW_TARSIL(TarsilError::StorageCorrupted);
    }
}

void Track::init(Storage* storage, bool write, uint32_t lastPageNumber) {
    unloadAll();
    _storage = storage;
    _write = write;
    _open = true;
    for (std::unique_ptr<Page>& page : _pages) {
        page = std::make_unique<Page>(storage->superBlock(), storage->pageCache());
    }
    _overwritePage = std::make_unique<Page>(storage->superBlock(), storage->pageCache());
    _readPage = std::make_unique<Page>(storage->superBlock(), storage->pageCache());
    _current = nullptr;
    _cursor = PagePosition();
    _readCursor = PagePosition();
    if (lastPageNumber == 0) {
        return;
    }
    TrackListItem item;
    uint32_t checksum = storage->findTrack(_type, item) ? item.lastPageChecksum() : 0;
    Page* page = _pages[0].get();
    loadChecked(*page, lastPageNumber, checksum);
    uint32_t offset = page->isEmpty() ? Page::IndexData : page->lastItemOffset() + _itemSize;
    if (!write && !page->isEmpty()) {
        offset = page->lastItemOffset();  // a reader starts on the last element
    }
    page->buffer().setPosition(static_cast<int>(offset));
    _current = page;
    _cursor = PagePosition(lastPageNumber, offset);
    logLine("Track::init() %s page#=%u last_offset=%u last_id=%llu type=%s", write ? "WRITE" : "READ",
            lastPageNumber, page->lastItemOffset(), static_cast<unsigned long long>(page->lastItemID()),
            textOf(_type).c_str());
}

void Track::unloadAll() {
    for (std::unique_ptr<Page>& page : _pages) {
        if (page) {
            page->reset();
        }
    }
    if (_overwritePage) {
        _overwritePage->reset();
    }
    if (_readPage) {
        _readPage->reset();
    }
    _current = nullptr;
    _cursor = PagePosition();
    _readCursor = PagePosition();
}

bool Track::close(bool flush) {
    bool ok = true;
    if (_current != nullptr && flush) {
        try {
            this->flush();
        } catch (const SystemException& e) {
            logLine("Track::close() flush failed: %s", messageOf(e));
            ok = false;
        }
    }
    unloadAll();
    _open = false;
    return ok;
}

void Track::flush() {
    if (_write && _current != nullptr && _current->pageNumber() != 0 && _current->isLoaded() &&
        !_current->buffer().isClean()) {
        _storage->flushPage(*_current);
    }
}

Page* Track::appendPage(IPageInitializer* initializer) {
    uint32_t number = nextWritablePageNumber();
    if (number == 0) {
        QF_THROW_TARSIL(TarsilError::NotEnoughSpace);
    }
    Page* target = _current == nullptr ? _pages[0].get() : otherPage();
    if (_current == nullptr) {
        target->init(_type, number, _itemSize, 0, 0, initializer);
    } else {
        target->init(_type, number, _itemSize, _current->pageNumber(), _current->checksum(), initializer);
        {
            std::lock_guard<Mutex> lock(_current->mutex());
            _current->setNext(number);
            _current->setNextChecksum(target->checksum());
        }
        _storage->flushPage(*_current);
        _current->reset();
    }
    _storage->registerPage(*target);
    _current = target;
    _cursor = PagePosition(number, static_cast<uint32_t>(target->buffer().position()));
    return target;
}

// An element is written where the current page can take its header and the payload can
// end within the next page; otherwise it starts a fresh page, whose data area and the
// next one's bound what can be stored at all.
bool Track::fitsCurrentPage(const IRecordable& element) {
    uint64_t dataArea = _storage->superBlock().pageSize() - Page::IndexData;
    uint64_t header = static_cast<uint32_t>(element.headerSize());
    uint64_t data = static_cast<uint32_t>(element.dataSize());
    uint32_t free = freeBytes();
    return free >= header && data <= (free - header) + dataArea;
}

bool Track::canStore(const IRecordable& element) {
    uint64_t dataArea = _storage->superBlock().pageSize() - Page::IndexData;
    uint64_t header = static_cast<uint32_t>(element.headerSize());
    uint64_t data = static_cast<uint32_t>(element.dataSize());
    return header <= dataArea && (fitsCurrentPage(element) || data <= (dataArea - header) + dataArea);
}

uint32_t Track::pagesNeededFor(const IRecordable& element) {
    uint64_t dataArea = _storage->superBlock().pageSize() - Page::IndexData;
    uint64_t header = static_cast<uint32_t>(element.headerSize());
    uint64_t data = static_cast<uint32_t>(element.dataSize());
    if (fitsCurrentPage(element)) {
        return data > freeBytes() - header ? 1 : 0;
    }
    return header <= dataArea && data > dataArea - header ? 2 : 1;
}

PagePosition Track::write(IRecordable& element) {
    if (!canStore(element)) {
        // The payload would need more than a fresh page and one further page: refused
        // before anything is written.
        throw TarsilException(QF_HERE, TarsilError::NotEnoughSpace,
                              "Not enough space: the element is larger than a page can continue into");
    }
    uint32_t header = static_cast<uint32_t>(element.headerSize());
    uint32_t data = static_cast<uint32_t>(element.dataSize());
    if (!fitsCurrentPage(element)) {
        appendPage(nullptr);
    }
    uint32_t room = freeBytes() - header;
    Page* page = _current;
    PagePosition position(page->pageNumber(), static_cast<uint32_t>(page->buffer().position()));
    std::unique_lock<Mutex> lock(page->mutex());
    Buffer& buffer = page->buffer();
    element.appendHeader(buffer);
    if (page->itemCount() == 0) {
        page->setFirstItemID(element.mediaID());
        page->setTimeStamp(_storage->timeStampBasis());
    }
    page->setItemCount(page->itemCount() + 1);
    page->setLastItemOffset(position.offset);
    page->setLastItemID(element.mediaID());
    if (element.countsInPageMask()) {
        page->setItemFlags(page->itemFlags() | element.channelMask().value());
    }
    if (data > 0) {
        if (room >= data) {
            element.writeData(buffer, 0, static_cast<int>(data));
        } else {
            if (room > 0) {
                element.writeData(buffer, 0, static_cast<int>(room));
            }
            lock.unlock();
            OverflowRemainingWriter remainder(element, static_cast<int>(room), static_cast<int>(data - room));
            appendPage(&remainder);
        }
    }
    _cursor = PagePosition(_current->pageNumber(), static_cast<uint32_t>(_current->buffer().position()));
    return position;
}

Page* Track::loadPageToOverwrite(uint32_t number) {
    bool isCurrent = _current != nullptr && _current->pageNumber() == number;
    logLine("Track::loadPageToOverwrite(): PAGE #%u %s %s", number, isCurrent ? "(CURRENT)" : "",
            textOf(_type).c_str());
    if (isCurrent) {
        _overwritePage->reset();
        return _current;
    }
    if (_overwritePage->isLoaded() && _overwritePage->pageNumber() == number) {
        return _overwritePage.get();
    }
    return _overwritePage.get();
}

Page* Track::firstPage() {
    TrackListItem item;
    if (!_storage->findTrack(_type, item)) {
        return _current;
    }
    Page* page = loadPageToOverwrite(item.firstPage());
    if (page != _current && !(page->isLoaded() && page->pageNumber() == item.firstPage())) {
        loadChecked(*page, item.firstPage(), item.firstPageChecksum());
    }
    return page;
}

void Track::dropItemsBefore(Page& page, uint64_t before, IRecordable& scratch) {
    uint32_t count = page.itemCount();
    uint32_t dropped = 0;
    uint32_t offset = page.firstItemOffset();
    uint32_t pageSize = _storage->superBlock().pageSize();
    while (dropped < count && offset + _itemSize <= pageSize) {
        scratch.readFrom(page.buffer(), static_cast<int>(offset));
        if (scratch.mediaID() >= before) {
            break;
        }
        ++dropped;
        offset += _itemSize;
    }
    if (dropped == 0 && page.previous() == 0) {
        return;
    }
    std::lock_guard<Mutex> lock(page.mutex());
    page.setPrevious(0);
    page.setPreviousChecksum(Page::InvalidPageChecksum);
    if (dropped > 0) {
        page.setItemCount(count - dropped);
        page.setFirstItemOffset(offset);
        page.setFirstItemID(dropped < count ? scratch.mediaID() : 0);
    }
}

bool Track::overwriteFront(uint64_t before, IRecordable& scratch) {
    if (isEmpty()) {
        return false;
    }
    Page* page = firstPage();
    if (page == nullptr || page->firstItemID() >= before) {
        return false;
    }
    FreePageList freed;
    uint32_t steps = _storage->superBlock().pageCount();
    while (page->lastItemID() < before) {
        freed.add(page->pageNumber(), page->pageNumber());
        if (page->next() == 0 || page == _current) {
            deleteTrack(freed);
            return true;
        }
        logLine("Track::overwrite : free page %d (lastItemID = %llu : newFirstID = %llu)",
                static_cast<int>(page->pageNumber()), static_cast<unsigned long long>(page->lastItemID()),
                static_cast<unsigned long long>(before));
        uint32_t next = page->next();
        uint32_t nextChecksum = page->nextChecksum();
        if (steps-- == 0) {
            QF_THROW_TARSIL(TarsilError::StorageCorrupted);  // a chain longer than the file: a cycle
        }
        page = loadPageToOverwrite(next);
        if (page != _current) {
            loadChecked(*page, next, nextChecksum);
        } else if (page->checksum() != nextChecksum) {
            QF_THROW_TARSIL(TarsilError::StorageCorrupted);
        }
    }
    dropItemsBefore(*page, before, scratch);
    bool isCurrent = page == _current;
    OverwriteTransaction(*_storage, freed, *page, !isCurrent, true).commit();
    _storage->updateTrackFirst(_type, page->pageNumber(), page->checksum());
    return true;
}

bool Track::dropFirstPage(uint64_t& newFirstID) {
    TrackListItem item;
    if (isEmpty() || !_storage->findTrack(_type, item) || item.firstPage() == item.lastPage()) {
        return false;
    }
    std::unique_ptr<IRecordable> scratch = newElement();
    Page* first = firstPage();
    uint64_t before = first->lastItemID() + 1;
    overwriteFront(before, *scratch);
    Page* now = firstPage();
    newFirstID = now != nullptr && now->isLoaded() ? now->firstItemID() : before;
    return true;
}

void Track::removeAfter(Page& page, uint64_t after, IRecordable& scratch) {
    page.setNext(0);
    page.setNextChecksum(Page::InvalidPageChecksum);
    uint32_t cursor;
    if (page.lastItemID() <= after) {
        logLine("Track::removeAfter : no need to remove after : %s last item = %llu", textOf(_type).c_str(),
                static_cast<unsigned long long>(page.lastItemID()));
        cursor = page.isEmpty() ? page.firstItemOffset() : page.lastItemOffset() + _itemSize;
    } else {
        logLine("Track::removeAfter : _currentPage->lastItemID =%llu, after =%llu",
                static_cast<unsigned long long>(page.lastItemID()), static_cast<unsigned long long>(after));
        uint32_t pageSize = _storage->superBlock().pageSize();
        uint32_t offset = page.firstItemOffset();
        uint32_t kept = 0;
        uint32_t flags = 0;
        uint64_t lastID = 0;
        uint32_t lastOffset = Page::IndexData;
        uint32_t count = page.itemCount();
        while (kept < count && offset + _itemSize <= pageSize) {
            scratch.readFrom(page.buffer(), static_cast<int>(offset));
            if (scratch.mediaID() > after) {
                break;
            }
            ++kept;
            if (scratch.countsInPageMask()) {
                flags |= scratch.channelMask().value();
            }
            lastID = scratch.mediaID();
            lastOffset = offset;
            offset += static_cast<uint32_t>(scratch.serializedSize());
        }
        logLine("Track::removeAfter : page %s %u updated : last = %llu -> %llu", textOf(_type).c_str(),
                page.pageNumber(), static_cast<unsigned long long>(page.lastItemID()),
                static_cast<unsigned long long>(lastID));
        std::lock_guard<Mutex> lock(page.mutex());
        page.setItemCount(kept);
        page.setItemFlags(flags);
        page.setLastItemID(lastID);
        page.setLastItemOffset(lastOffset);
        if (kept == 0) {
            page.setFirstItemID(0);
        }
        cursor = kept == 0 ? Page::IndexData : offset;
    }
    page.buffer().setPosition(static_cast<int>(cursor));
    _cursor = PagePosition(page.pageNumber(), cursor);
}

void Track::rollback(uint64_t after, IRecordable& scratch) {
    if (isEmpty()) {
        return;
    }
    FreePageList freed;
    uint32_t steps = _storage->superBlock().pageCount();
    while (_current->firstItemID() > after) {
        freed.add(_current->pageNumber(), _current->pageNumber());
        if (_current->previous() == 0) {
            logLine("Track::rollback : free %s %u (deleted)", textOf(_type).c_str(), _current->pageNumber());
            deleteTrack(freed);
            return;
        }
        if (steps-- == 0) {
            QF_THROW_TARSIL(TarsilError::StorageCorrupted);
        }
        uint32_t previous = _current->previous();
        uint32_t previousChecksum = _current->previousChecksum();
        Page* other = otherPage();
        if (_overwritePage->isLoaded() && _overwritePage->pageNumber() == previous) {
            _overwritePage->reset();
        }
        loadChecked(*other, previous, previousChecksum);
        logLine("Track::rollback : free %s %u", textOf(_type).c_str(), _current->pageNumber());
        _current->reset();
        _current = other;
    }
    removeAfter(*_current, after, scratch);
    RollbackTransaction(*_storage, freed, *_current).commit();
    _storage->updateTrackLast(_type, _current->pageNumber(), _current->checksum());
}

void Track::rollbackAfter(uint64_t after) {
    std::unique_ptr<IRecordable> scratch = newElement();
    rollback(after, *scratch);
}

void Track::deleteTrack(FreePageList& freed) {
    _storage->joinPendingPages();  // the current page may be one of them
    if (_current != nullptr && _current->isLoaded() &&
        _storage->freePageAllocator()->isListed(_current->pageNumber())) {
        PageFlushTransaction(*_storage, *_current).commit();
    }
    TrackDeletionTransaction(*_storage, freed, _type).commit();
    _storage->forgetTrack(_type);
    unloadAll();
}

// ---- reading ------------------------------------------------------------------------

void Track::readerLog(const char* fmt, ...) {
    if (_storage == nullptr) {
        return;
    }
    char line[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    _storage->logFromReader(line);
}

bool Track::hasSaneHeader(Page& page) {
    uint32_t pageSize = _storage->superBlock().pageSize();
    if (!page.type().equals(_type) || page.itemSize() != _itemSize) {
        return false;
    }
    uint32_t first = page.firstItemOffset();
    uint32_t last = page.lastItemOffset();
    if (first < Page::IndexData || first > pageSize || last < Page::IndexData || last >= pageSize) {
        return false;
    }
    if (page.itemCount() == 0) {
        return true;
    }
    uint32_t smallest = _itemSize < MinElementHeader ? _itemSize : MinElementHeader;
    return first <= last && last + smallest <= pageSize &&
           (isVariableSize() || (last - first) % _itemSize == 0);
}

bool Track::holdForReading(Page& page, uint32_t number) {
    if (!_storage->superBlock().isPageNumber(number)) {
        return false;
    }
    if (!page.isLoaded() || page.pageNumber() != number) {
        page.load(number, true);
    }
    return hasSaneHeader(page);
}

bool Track::isInvalidPosition(Page& page, const PagePosition& position) {
    if (!page.isLoaded() || page.pageNumber() != position.number || page.isEmpty() || !hasSaneHeader(page)) {
        return true;
    }
    if (position.offset < page.firstItemOffset() || position.offset > page.lastItemOffset()) {
        return true;
    }
    return !isVariableSize() && (position.offset - page.firstItemOffset()) % _itemSize != 0;
}

uint32_t Track::elementSizeAt(Page& page, uint32_t offset) {
    uint32_t pageSize = _storage->superBlock().pageSize();
    if (!isVariableSize()) {
        return offset + _itemSize <= pageSize ? _itemSize : 0;
    }
    std::unique_ptr<IRecordable> scratch = newElement();
    if (uint64_t(offset) + uint32_t(scratch->headerSize()) > pageSize) {
        return 0;
    }
    scratch->readFrom(page.buffer(), static_cast<int>(offset));
    uint64_t size = uint64_t(uint32_t(scratch->headerSize())) + uint32_t(scratch->dataSize());
    // A length no page chain can hold is a lie of a damaged page.
    return size <= 2ull * pageSize ? static_cast<uint32_t>(size) : 0;
}

bool Track::readAt(Page& page, uint32_t offset, IRecordable& element) {
    uint32_t pageSize = _storage->superBlock().pageSize();
    if (uint64_t(offset) + uint32_t(element.headerSize()) > pageSize) {
        return false;
    }
    element.readFrom(page.buffer(), static_cast<int>(offset));
    return true;
}

bool Track::offsetBefore(Page& page, uint32_t offset, uint32_t& before) {
    if (offset <= page.firstItemOffset()) {
        return false;
    }
    if (!isVariableSize()) {
        before = offset - _itemSize;
        return before >= page.firstItemOffset();
    }
    // Variable-size elements are found from the page's first one.
    uint32_t at = page.firstItemOffset();
    for (uint32_t i = 0; i < page.itemCount(); ++i) {
        uint32_t size = elementSizeAt(page, at);
        if (size == 0 || at + size > offset) {
            return false;
        }
        if (at + size == offset) {
            before = at;
            return true;
        }
        at += size;
    }
    return false;
}

bool Track::followNext(Page& page, bool& overwritten) {
    overwritten = false;
    uint32_t pageCount = _storage->superBlock().pageCount();
    for (uint32_t steps = 0; steps <= pageCount; ++steps) {
        uint32_t number = page.pageNumber();
        uint32_t next = page.next();
        if (next == 0) {
            return false;
        }
        uint64_t lastID = page.lastItemID();
        uint32_t nextChecksum = page.nextChecksum();
        if (!_storage->superBlock().isPageNumber(next)) {
            overwritten = true;
            return false;
        }
        page.load(next, true);
        if (!hasSaneHeader(page) || page.checksum() != nextChecksum || page.previous() != number ||
            (!page.isEmpty() && page.firstItemID() < lastID)) {
            overwritten = true;
            return false;
        }
        if (!page.isEmpty()) {
            return true;
        }
        // A page holding only the tail of the previous page's last element.
    }
    overwritten = true;  // a chain longer than the file: a cycle
    return false;
}

bool Track::followPrevious(Page& page, bool& overwritten) {
    overwritten = false;
    uint32_t pageCount = _storage->superBlock().pageCount();
    uint64_t firstID = page.firstItemID();
    uint32_t tag = page.pageTag();
    bool firstKnown = !page.isEmpty();
    for (uint32_t steps = 0; steps <= pageCount; ++steps) {
        uint32_t number = page.pageNumber();
        uint32_t previous = page.previous();
        if (previous == 0) {
            return false;
        }
        uint32_t previousChecksum = page.previousChecksum();
        if (!_storage->superBlock().isPageNumber(previous)) {
            overwritten = true;
            return false;
        }
        page.load(previous, true);
        bool idsHold = !firstKnown || page.isEmpty() || page.pageTag() != tag || page.lastItemID() < firstID;
        if (!hasSaneHeader(page) || page.checksum() != previousChecksum || page.next() != number || !idsHold) {
            overwritten = true;
            return false;
        }
        if (!page.isEmpty()) {
            return true;
        }
    }
    overwritten = true;
    return false;
}

bool Track::seek(Page& page, const PagePosition& position) {
    if (!_storage->superBlock().isPageNumber(position.number)) {
        readerLog("Track::seek() FAILED. INVALID POSITION (%u, %u)", position.number, position.offset);
        return false;
    }
    if (!page.isLoaded() || page.pageNumber() != position.number) {
        page.load(position.number, true);
    }
    if (!page.type().equals(_type)) {
        readerLog("Track::seek() FAILED. INVALID TYPE (%u, %u)", position.number, position.offset);
        return false;
    }
    if (isInvalidPosition(page, position)) {
        readerLog("Track::seek() FAILED. INVALID POSITION (%u, %u)", position.number, position.offset);
        return false;
    }
    page.buffer().setPosition(static_cast<int>(position.offset));
    return true;
}

bool Track::read(Page& page, const PagePosition& position, IRecordable& element) {
    return seek(page, position) && readAt(page, position.offset, element);
}

bool Track::next(Page& page, PagePosition& position, IRecordable& element) {
    if (!holdForReading(page, position.number) || isInvalidPosition(page, position)) {
        return false;
    }
    if (position.offset == page.lastItemOffset() && page.next() == 0 && page.isCopy()) {
        // The writer holds the page: it may have grown, or moved on, since the copy.
        uint32_t checksum = page.checksum();
        page.load(position.number, true);
        if (!page.type().equals(_type) || page.checksum() != checksum || !hasSaneHeader(page)) {
            readerLog("Track::next() FAILED 1. OVERWRITTEN page %u", position.number);
            return false;
        }
    }
    if (position.offset != page.lastItemOffset()) {
        uint32_t size = elementSizeAt(page, position.offset);
        uint64_t at = uint64_t(position.offset) + size;
        if (size == 0 || at > page.lastItemOffset()) {
            readerLog("Track::next() FAILED. INVALID ELEMENT at (%u, %u)", position.number, position.offset);
            return false;
        }
        if (!readAt(page, static_cast<uint32_t>(at), element)) {
            return false;
        }
        position.offset = static_cast<uint32_t>(at);
        return true;
    }
    uint32_t number = page.pageNumber();
    if (page.next() == 0) {
        return false;  // the end of the track
    }
    bool overwritten = false;
    if (!followNext(page, overwritten)) {
        if (overwritten) {
            readerLog("Track::next() FAILED. OVERWRITTEN after page %u", number);
        }
        return false;
    }
    if (!readAt(page, page.firstItemOffset(), element)) {
        return false;
    }
    position = PagePosition(page.pageNumber(), page.firstItemOffset());
    return true;
}

bool Track::previous(Page& page, PagePosition& position, IRecordable& element) {
    if (!holdForReading(page, position.number) || isInvalidPosition(page, position)) {
        return false;
    }
    uint32_t before = 0;
    if (position.offset != page.firstItemOffset()) {
        if (!offsetBefore(page, position.offset, before) || !readAt(page, before, element)) {
            readerLog("Track::previous() FAILED. INVALID ELEMENT at (%u, %u)", position.number, position.offset);
            return false;
        }
        position.offset = before;
        return true;
    }
    uint32_t number = page.pageNumber();
    bool overwritten = false;
    if (!followPrevious(page, overwritten)) {
        if (overwritten) {
            readerLog("Track::previous() FAILED. OVERWRITTEN before page %u", number);
        }
        return false;
    }
    if (!readAt(page, page.lastItemOffset(), element)) {
        return false;
    }
    position = PagePosition(page.pageNumber(), page.lastItemOffset());
    return true;
}

bool Track::seek(const PagePosition& position) {
    if (_readPage == nullptr) {
        return false;
    }
    PagePosition previous = _readCursor;
    if (!seek(*_readPage, position)) {
        // The cursor stays where it was.
        if (previous.isSet() && _readPage->pageNumber() != previous.number) {
            _readPage->reset();
        }
        _readCursor = _readPage->isLoaded() ? previous : PagePosition();
        return false;
    }
    _readCursor = position;
    return true;
}

bool Track::read(IRecordable& element) {
    if (_readPage == nullptr || !_readCursor.isSet()) {
        if (_readPage == nullptr || !seekLastOfCurrentPage()) {
            return false;
        }
    }
    if (!holdForReading(*_readPage, _readCursor.number) || isInvalidPosition(*_readPage, _readCursor)) {
        return false;
    }
    return readAt(*_readPage, _readCursor.offset, element);
}

bool Track::next(IRecordable& element) {
    if (_readPage == nullptr || !_readCursor.isSet()) {
        return false;
    }
    PagePosition position = _readCursor;
    uint32_t number = position.number;
    bool ok = next(*_readPage, position, element);
    if (ok) {
        _readCursor = position;
    } else if (_readPage->pageNumber() != number) {
        _readPage->reset();  // reloaded on the next call at the old cursor
    }
    return ok;
}

bool Track::previous(IRecordable& element) {
    if (_readPage == nullptr || !_readCursor.isSet()) {
        return false;
    }
    PagePosition position = _readCursor;
    uint32_t number = position.number;
    bool ok = previous(*_readPage, position, element);
    if (ok) {
        _readCursor = position;
    } else if (_readPage->pageNumber() != number) {
        _readPage->reset();
    }
    return ok;
}

bool Track::seekFirstOfCurrentPage() {
    Page* page = _readPage != nullptr && _readPage->isLoaded() ? _readPage.get() : _current;
    if (page == nullptr || !page->isLoaded()) {
        return false;
    }
    return seek(PagePosition(page->pageNumber(), page->firstItemOffset()));
}

bool Track::seekLastOfCurrentPage() {
    Page* page = _readPage != nullptr && _readPage->isLoaded() ? _readPage.get() : _current;
    if (page == nullptr || !page->isLoaded()) {
        return false;
    }
    uint32_t number = page->pageNumber();
    if (page != _readPage.get()) {
        _readPage->load(number, true);
    } else if (page->isCopy()) {
        _readPage->load(number, true);  // the writer may have added elements since
    }
    return seek(PagePosition(number, _readPage->lastItemOffset()));
}
