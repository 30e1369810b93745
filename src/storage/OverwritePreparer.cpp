#include "storage/OverwritePreparer.h"

#include <cstdarg>
#include <cstdio>

#include "storage/Storage.h"
#include "storage/pager/FreePageList.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"

OverwritePreparer::OverwritePreparer() = default;

OverwritePreparer::~OverwritePreparer() = default;

void OverwritePreparer::log(const char* fmt, ...) {
    char line[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    _storage->log(line, 2, false);
}

void OverwritePreparer::start(Storage* storage, int capacity) {
    stop();
    _storage = storage;
    _scan = std::make_unique<Page>(storage->superBlock(), storage->pageCache());
    _capacity = capacity > 0 ? static_cast<size_t>(capacity) : 1;
}

void OverwritePreparer::stop() {
    _queue.clear();
    if (_scan) {
        _scan->reset();
    }
}

bool OverwritePreparer::advance(Record& record) {
    if (_storage == nullptr || !_scan) {
        return false;
    }
    SuperBlock& superBlock = _storage->superBlock();
    if (!_scan->isLoaded()) {
        TrackListItem item;
        if (!_storage->findTrack(PageType::Media, item) || !superBlock.isPageNumber(item.firstPage())) {
            return false;
        }
        _scan->load(item.firstPage(), true);
        if (!_scan->type().equals(PageType::Media) || _scan->checksum() != item.firstPageChecksum()) {
            _scan->reset();
            return false;
        }
        log("OverwritePreparer: load first page. page %u(%u) last_id=%llu", _scan->pageNumber(), _scan->checksum(),
            static_cast<unsigned long long>(_scan->lastItemID()));
    } else {
        if (_scan->next() == 0) {
            _scan->load(_scan->pageNumber(), true);  // the writer may have linked a page since
            if (_scan->next() == 0) {
                return false;
            }
        }
        uint32_t number = _scan->pageNumber();
        uint32_t next = _scan->next();
        uint32_t checksum = _scan->checksum();
        uint32_t nextChecksum = _scan->nextChecksum();
        if (!superBlock.isPageNumber(next)) {
            return false;
        }
        _scan->load(next, true);
        if (!_scan->type().equals(PageType::Media) || _scan->previous() != number ||
            _scan->previousChecksum() != checksum || _scan->checksum() != nextChecksum) {
            _scan->load(number, true);
            return false;
        }
    }
    record.firstItemID = _scan->firstItemID();
    record.lastItemID = _scan->lastItemID();
    record.pageTag = _scan->pageTag();
    record.pageNumber = _scan->pageNumber();
    return true;
}

void OverwritePreparer::prepareOne() {
    if (_queue.size() >= _capacity) {
        return;
    }
    Record record;
    if (advance(record)) {
        _queue.push_back(record);
    }
}

void OverwritePreparer::takeQueued(uint64_t before, FreePageList& freed) {
    while (!_queue.empty() && _queue.front().lastItemID < before) {
        freed.add(_queue.front().pageNumber, _queue.front().pageNumber);
        _queue.pop_front();
    }
}

void OverwritePreparer::scanUntil(uint64_t before, FreePageList& freed) {
    if (_scan->isLoaded() && _scan->lastItemID() < before && !freed.contains(_scan->pageNumber()) &&
        _queue.empty()) {
        freed.add(_scan->pageNumber(), _scan->pageNumber());
    }
    uint32_t steps = _storage->superBlock().pageCount();
    Record record;
    while (steps-- > 0) {
        if (!advance(record)) {
            if (_scan->isLoaded() && _scan->next() == 0 && _scan->lastItemID() < before) {
                log("OverwritePreparer: need to free all pages. page=%u last_id=%llu before=%llu",
                    _scan->pageNumber(), static_cast<unsigned long long>(_scan->lastItemID()),
                    static_cast<unsigned long long>(before));
                _scan->reset();
            }
            return;
        }
        if (record.lastItemID >= before) {
            _queue.push_back(record);
            return;
        }
        freed.add(record.pageNumber, record.pageNumber);
    }
}

uint32_t OverwritePreparer::complete(uint64_t before, FreePageList& freed) {
    freed.clear();
    takeQueued(before, freed);
    if (_queue.empty() && (!_scan->isLoaded() || _scan->lastItemID() < before)) {
        scanUntil(before, freed);
    }
    if (!_queue.empty()) {
        return _queue.front().pageNumber;
    }
    return _scan->isLoaded() ? _scan->pageNumber() : 0;
}
