#include "storage/util/PageElements.h"

#include <mutex>

#include "storage/IRecordable.h"
#include "storage/Storage.h"
#include "storage/Track.h"
#include "storage/EventElement.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"

PageElements::PageElements(Storage& storage, const PageType& type)
    : _storage(storage),
      _type(type),
      _variable(type.equals(PageType::Media) || type.equals(PageType::PreEvent)) {
    Track* track = storage.track(type);
    _scratch = track != nullptr ? track->newElement() : std::make_unique<EventElement>();
}

PageElements::~PageElements() = default;

uint64_t PageElements::endOf(Page& page, uint32_t offset) {
    uint32_t pageSize = _storage.superBlock().pageSize();
    uint32_t header = static_cast<uint32_t>(_scratch->headerSize());
    if (offset < Page::IndexData || uint64_t(offset) + header > pageSize) {
        return 0;
    }
    _scratch->readFrom(page.buffer(), static_cast<int>(offset));
    if (!_variable) {
        uint32_t size = page.itemSize();
        return size == 0 ? 0 : uint64_t(offset) + size;
    }
    uint64_t size = uint64_t(header) + uint32_t(_scratch->dataSize());
    // No payload continues past the next page.
    return size <= 2ull * pageSize ? offset + size : 0;
}

bool PageElements::readLast(Page& page, uint32_t& offset) {
    uint32_t count = page.itemCount();
    if (count == 0) {
        return false;
    }
    uint32_t pageSize = _storage.superBlock().pageSize();
    uint32_t at = page.firstItemOffset();
    for (uint32_t i = 0; i + 1 < count; ++i) {
        uint64_t end = endOf(page, at);
        if (end == 0 || end > pageSize) {
            return false;
        }
        at = static_cast<uint32_t>(end);
    }
    if (at != page.lastItemOffset() || endOf(page, at) == 0) {
        return false;
    }
    offset = at;
    return true;
}

bool PageElements::isConsistent(Page& page) {
    if (page.isEmpty()) {
        return true;
    }
    uint32_t offset = 0;
    if (!readLast(page, offset) || _scratch->mediaID() != page.lastItemID()) {
        return false;
    }
    if (endOf(page, page.firstItemOffset()) == 0) {
        return false;
    }
    return _scratch->mediaID() == page.firstItemID() && page.firstItemID() <= page.lastItemID();
}

bool PageElements::lastOverflows(Page& page) {
    if (page.isEmpty()) {
        return false;
    }
    uint64_t end = endOf(page, page.lastItemOffset());
    return end == 0 || end > _storage.superBlock().pageSize();
}

bool PageElements::keepFrom(Page& page, uint64_t before) {
    uint32_t count = page.itemCount();
    uint32_t pageSize = _storage.superBlock().pageSize();
    uint32_t at = page.firstItemOffset();
    uint32_t i = 0;
    for (; i < count; ++i) {
        uint64_t end = endOf(page, at);
        if (end == 0) {
            return false;
        }
        if (_scratch->mediaID() >= before) {
            break;
        }
        if (end > pageSize) {
            return false;
        }
        at = static_cast<uint32_t>(end);
    }
    if (i == count) {
        return false;
    }
    uint64_t firstID = _scratch->mediaID();
    uint32_t flags = 0;
    uint32_t walk = at;
    for (uint32_t k = i; k < count; ++k) {
        uint64_t end = endOf(page, walk);
        if (end == 0) {
            break;
        }
        if (_scratch->countsInPageMask()) {
            flags |= _scratch->channelMask().value();
        }
        if (end > pageSize) {
            break;
        }
        walk = static_cast<uint32_t>(end);
    }
    std::lock_guard<Mutex> lock(page.mutex());
    page.setPrevious(0);
    page.setPreviousChecksum(Page::InvalidPageChecksum);
    page.setFirstItemOffset(at);
    page.setFirstItemID(firstID);
    page.setItemCount(count - i);
    page.setItemFlags(flags);
    return true;
}

uint32_t PageElements::keepUpTo(Page& page, uint64_t after) {
    uint32_t count = page.itemCount();
    uint32_t pageSize = _storage.superBlock().pageSize();
    uint32_t at = page.firstItemOffset();
    uint32_t kept = 0;
    uint32_t flags = 0;
    uint64_t firstID = 0;
    uint64_t lastID = 0;
    uint32_t lastOffset = Page::IndexData;
    for (; kept < count; ++kept) {
        uint64_t end = endOf(page, at);
        if (end == 0 || end > pageSize || _scratch->mediaID() > after) {
            break;  // an element cut off by the page end has lost its tail with the next page
        }
        if (kept == 0) {
            firstID = _scratch->mediaID();
        }
        if (_scratch->countsInPageMask()) {
            flags |= _scratch->channelMask().value();
        }
        lastID = _scratch->mediaID();
        lastOffset = at;
        at = static_cast<uint32_t>(end);
    }
    std::lock_guard<Mutex> lock(page.mutex());
    page.setNext(0);
    page.setNextChecksum(Page::InvalidPageChecksum);
    page.setItemCount(kept);
    page.setItemFlags(flags);
    page.setFirstItemID(firstID);
    page.setLastItemID(lastID);
    page.setLastItemOffset(kept == 0 ? Page::IndexData : lastOffset);
    if (kept == 0 && !_variable) {
        page.setFirstItemOffset(Page::IndexData);  // where the next element will start
    }
    return kept;
}
