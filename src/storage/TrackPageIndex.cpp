#include "storage/TrackPageIndex.h"

#include "storage/Storage.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"

void TrackPageIndex::rebuild(Storage& storage, const PageType& type) {
    _entries.clear();
    TrackListItem item;
    if (!storage.findTrack(type, item)) {
        return;
    }
    SuperBlock& superBlock = storage.superBlock();
    Page header(superBlock, storage.pageCache());
    uint32_t number = item.firstPage();
    uint32_t checksum = item.firstPageChecksum();
    for (uint32_t steps = 0; steps <= superBlock.pageCount() && superBlock.isPageNumber(number); ++steps) {
        header.loadHeader(number, true);
        if (!header.type().equals(type) || header.checksum() != checksum) {
            return;
        }
        _entries.push_back(Entry{number, checksum, header.firstItemID(), header.lastItemID()});
        if (number == item.lastPage()) {
            return;
        }
        checksum = header.nextChecksum();
        number = header.next();
    }
}

void TrackPageIndex::noteWrite(Page& page) {
    if (!_entries.empty() && _entries.back().page == page.pageNumber()) {
        _entries.back().lastID = page.lastItemID();
        _entries.back().firstID = page.firstItemID();
        return;
    }
    _entries.push_back(Entry{page.pageNumber(), page.checksum(), page.firstItemID(), page.lastItemID()});
}

void TrackPageIndex::dropBefore(uint32_t firstPage) {
    for (size_t i = 0; i < _entries.size(); ++i) {
        if (_entries[i].page == firstPage) {
            _entries.erase(_entries.begin(), _entries.begin() + static_cast<long>(i));
            return;
        }
    }
    _entries.clear();
}

void TrackPageIndex::cutAfter(uint32_t lastPage) {
    for (size_t i = 0; i < _entries.size(); ++i) {
        if (_entries[i].page == lastPage) {
            _entries.resize(i + 1);
            return;
        }
    }
    _entries.clear();
}

const TrackPageIndex::Entry* TrackPageIndex::pageAtOrBefore(uint64_t id) const {
    const Entry* found = _entries.empty() ? nullptr : &_entries.front();
    for (const Entry& entry : _entries) {
        if (entry.firstID != 0 && entry.firstID <= id) {
            found = &entry;
        }
    }
    return found;
}

const TrackPageIndex::Entry* TrackPageIndex::pageAtOrAfter(uint64_t id) const {
    for (const Entry& entry : _entries) {
        if (entry.lastID >= id) {
            return &entry;
        }
    }
    return nullptr;
}
