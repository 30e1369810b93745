#include "storage/StorageUtility.h"

#include <cstdio>

#include "base/TarsilException.h"
#include "base/TextOf.h"
#include "storage/IRecordable.h"
#include "storage/Storage.h"
#include "storage/TarsilError.h"
#include "storage/Track.h"
#include "storage/pager/FreePageListItem.h"
#include "storage/pager/FreePageListPage.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"

void StorageUtility::corrupted(const char* where, uint32_t number) {
    char line[512];
    std::snprintf(line, sizeof line, "%s %s:%d", where, _storage.path().c_str(), static_cast<int>(number));
    _storage.logFromReader(line);
    QF_THROW_TARSIL(TarsilError::StorageCorrupted);
}

void StorageUtility::loadPage(Page& page, const PageType& type, uint32_t number, uint32_t checksum,
                              bool readOnly) {
    SuperBlock& superBlock = _storage.superBlock();
    if (!superBlock.isPageNumber(number)) {
        page.reset();
        corrupted("StorageUtility::loadPage", number);
    }
    page.load(number, readOnly);
    if (!page.type().equals(type) || page.checksum() != checksum || page.superChecksum() != superBlock.checksum()) {
        page.reset();
        corrupted("StorageUtility::loadPage", number);
    }
    _pageTag = page.pageTag();
}

bool StorageUtility::loadFirstPage(Page& page, const PageType& type, bool readOnly) {
    TrackListItem item;
    if (!_storage.findTrack(type, item)) {
        return false;
    }
    loadPage(page, type, item.firstPage(), item.firstPageChecksum(), readOnly);
    return true;
}

bool StorageUtility::loadLastPage(Page& page, const PageType& type, bool readOnly) {
    TrackListItem item;
    if (!_storage.findTrack(type, item)) {
        return false;
    }
    loadPage(page, type, item.lastPage(), item.lastPageChecksum(), readOnly);
    return true;
}

bool StorageUtility::loadPreviousPage(Page& page) {
    uint32_t number = page.pageNumber();
    uint32_t previous = page.previous();
    if (previous == 0) {
        return false;
    }
    uint32_t checksum = page.previousChecksum();
    PageType type = page.type();
    bool readOnly = page.isReadOnly();
    if (!_storage.superBlock().isPageNumber(previous)) {
        page.reset();
        corrupted("StorageUtility::loadPreviousPage", previous);
    }
    page.load(previous, readOnly);
    if (!page.type().equals(type) || page.checksum() != checksum || page.next() != number) {
        page.reset();
        corrupted("StorageUtility::loadPreviousPage", previous);
    }
    _pageTag = page.pageTag();
    return true;
}

bool StorageUtility::loadNextPage(Page& page) {
    uint32_t number = page.pageNumber();
    uint32_t next = page.next();
    if (next == 0) {
        return false;
    }
    uint32_t checksum = page.nextChecksum();
    PageType type = page.type();
    bool readOnly = page.isReadOnly();
    if (!_storage.superBlock().isPageNumber(next)) {
        page.reset();
        corrupted("StorageUtility::loadNextPage", next);
    }
    page.load(next, readOnly);
    if (!page.type().equals(type) || page.checksum() != checksum || page.previous() != number) {
        page.reset();
        corrupted("StorageUtility::loadNextPage", next);
    }
    _pageTag = page.pageTag();
    return true;
}

bool StorageUtility::firstOrLast(const PageType& type, bool first, Page& page, PagePosition& position) {
    if (first ? !loadFirstPage(page, type, true) : !loadLastPage(page, type, true)) {
        return false;
    }
    uint32_t pageSize = _storage.superBlock().pageSize();
    for (uint32_t steps = 0; page.isEmpty(); ++steps) {
        // A first page may hold only a tail; a last page may have no element yet.
        if (steps > _storage.superBlock().pageCount() || !(first ? loadNextPage(page) : loadPreviousPage(page))) {
            return false;
        }
    }
    uint32_t offset = first ? page.firstItemOffset() : page.lastItemOffset();
    if (offset < Page::IndexData || offset + Track::MinElementHeader > pageSize) {
        corrupted(first ? "StorageUtility::firstItem" : "StorageUtility::lastItem", page.pageNumber());
    }
    position = PagePosition(page.pageNumber(), offset);
    return true;
}

bool StorageUtility::firstItem(const PageType& type, IRecordable& element) {
    Page page(_storage.superBlock(), _storage.pageCache());
    PagePosition position;
    if (!firstOrLast(type, true, page, position) ||
        position.offset + uint32_t(element.headerSize()) > _storage.superBlock().pageSize()) {
        return false;
    }
    element.readFrom(page.buffer(), static_cast<int>(position.offset));
    return true;
}

bool StorageUtility::lastItem(const PageType& type, IRecordable& element) {
    Page page(_storage.superBlock(), _storage.pageCache());
    PagePosition position;
    if (!firstOrLast(type, false, page, position) ||
        position.offset + uint32_t(element.headerSize()) > _storage.superBlock().pageSize()) {
        return false;
    }
    element.readFrom(page.buffer(), static_cast<int>(position.offset));
    return true;
}

PagePosition StorageUtility::firstPosition(const PageType& type) {
    Page page(_storage.superBlock(), _storage.pageCache());
    PagePosition position;
    return firstOrLast(type, true, page, position) ? position : PagePosition();
}

PagePosition StorageUtility::lastPosition(const PageType& type) {
    Page page(_storage.superBlock(), _storage.pageCache());
    PagePosition position;
    return firstOrLast(type, false, page, position) ? position : PagePosition();
}

PagePosition StorageUtility::positionAfter(const PageType& type, const PagePosition& position,
                                           IRecordable* element) {
    SuperBlock& superBlock = _storage.superBlock();
    if (!superBlock.isPageNumber(position.number)) {
        return PagePosition();
    }
    Page page(superBlock, _storage.pageCache());
    page.load(position.number, true);
    if (!page.type().equals(type)) {
        return PagePosition();
    }
    if (position.offset >= page.lastItemOffset()) {
        for (uint32_t steps = 0; steps <= superBlock.pageCount(); ++steps) {
            if (!loadNextPage(page)) {
                return PagePosition();
            }
            if (!page.isEmpty()) {
                return PagePosition(page.pageNumber(), page.firstItemOffset());
            }
        }
        return PagePosition();
    }
    uint32_t step = page.itemSize();
    if (element != nullptr) {
        if (position.offset + uint32_t(element->headerSize()) > superBlock.pageSize()) {
            return PagePosition();
        }
        element->readFrom(page.buffer(), static_cast<int>(position.offset));
        step = static_cast<uint32_t>(element->serializedSize());
    }
    uint64_t offset = uint64_t(position.offset) + step;
    if (step == 0 || offset > page.lastItemOffset()) {
        return PagePosition();
    }
    return PagePosition(position.number, static_cast<uint32_t>(offset));
}

void StorageUtility::truncateLastItems(Page& page, IRecordable& scratch, int n) {
    uint32_t count = page.itemCount();
    uint32_t keep = n >= 0 && uint32_t(n) < count ? count - uint32_t(n) : 0;
    uint32_t size = page.itemSize();
    uint32_t pageSize = _storage.superBlock().pageSize();
    uint32_t flags = 0;
    uint64_t lastID = 0;
    uint32_t lastOffset = Page::IndexData;
    uint32_t offset = page.firstItemOffset();
    for (uint32_t i = 0; i < keep && size > 0 && offset + size <= pageSize; ++i) {
        scratch.readFrom(page.buffer(), static_cast<int>(offset));
        if (scratch.countsInPageMask()) {
            flags |= scratch.channelMask().value();
        }
        lastID = scratch.mediaID();
        lastOffset = offset;
        offset += size;
    }
    page.setItemCount(keep);
    page.setItemFlags(flags);
    page.setLastItemID(lastID);
    page.setLastItemOffset(lastOffset);
    page.setNext(0);
    page.setNextChecksum(Page::InvalidPageChecksum);
}

bool StorageUtility::isEmpty(const PageType& type) {
    TrackListItem item;
    if (!_storage.findTrack(type, item)) {
        return true;
    }
    SuperBlock& superBlock = _storage.superBlock();
    if (!superBlock.isPageNumber(item.lastPage())) {
        corrupted("StorageUtility::isEmpty", item.lastPage());
    }
    Page page(superBlock, _storage.pageCache());
    page.loadHeader(item.lastPage(), true);
    if (!page.type().equals(type) || page.checksum() != item.lastPageChecksum()) {
        char line[512];
        std::snprintf(line, sizeof line, "StorageUtility::isEmpty %s:%d PageType : %s Type : %s",
                      _storage.path().c_str(), static_cast<int>(item.lastPage()), textOf(page.type()).c_str(),
                      textOf(type).c_str());
        _storage.logFromReader(line);
        QF_THROW_TARSIL(TarsilError::StorageCorrupted);
    }
    return page.isEmpty();
}

uint64_t StorageUtility::storedFreePageCount() {
    SuperBlock& superBlock = _storage.superBlock();
    TrackListItem item;
    uint32_t number = _storage.findTrack(PageType::FreePageList, item) ? item.lastPage() : superBlock.freePageNumber();
    if (!superBlock.isPageNumber(number)) {
        return 0;
    }
    FreePageListPage page(superBlock, _storage.pageCache());
    page.loadForRead(number);
    uint64_t total = 0;
    if (page.type().equals(PageType::FreePageList) && page.isConsistent()) {
        for (uint32_t i = 0; i < page.itemCount(); ++i) {
            FreePageListItem interval;
            page.readItem(i, interval);
            if (interval.first() <= interval.last()) {
                total += interval.count();
            }
        }
    }
    return total;
}
