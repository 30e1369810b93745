#include "storage/pager/FixedSizeFreePageAllocator.h"

#include "base/TarsilException.h"
#include "base/Trace.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TarsilAbility.h"
#include "storage/pager/TarsilFormat.h"
#include "storage/pager/TrackListItem.h"

void FixedSizeFreePageAllocator::init(SuperBlock& superBlock, PageCache& cache, bool writable) {
    reset();
    _page = std::make_unique<FreePageListPage>(superBlock, cache);
    TrackListItem track;
    bool registered = superBlock.findTrack(PageType::FreePageList, track);
    if (writable) {
        // Pages beyond the end of the file would be handed out and written, growing it.
        if (!superBlock.fitsFile()) {
            throw TarsilException(QF_HERE, 4, "Storage corrupted");
        }
        // From version 3 on the list is always a track. Without a usable one the storage
        // would open with no free page, and its next write would overwrite the oldest
        // recording to make room.
        bool listIsTrack = superBlock.isAbleTo(TarsilAbility::SingleTrackList);
        if (listIsTrack && (!registered || !superBlock.isPageNumber(track.firstPage()) ||
                            !superBlock.isPageNumber(track.lastPage()))) {
            throw TarsilException(QF_HERE, 4, "Storage corrupted");
        }
    }
    uint32_t head = registered ? track.firstPage() : superBlock.freePageNumber();
    if (writable && head != 0) {
        uint32_t last = registered ? track.lastPage() : head;
        if (!superBlock.isPageNumber(head) || !superBlock.isPageNumber(last)) {
            throw TarsilException(QF_HERE, 4, "Storage corrupted");
        }
        _page->loadForWrite(last);
        if (registered) {
            checkListPage(track.lastPageChecksum());
        } else if (!_page->isConsistent() || _page->itemSize() != TarsilFormat::FreePageListItemSize) {
            _page->reset();
            throw TarsilException(QF_HERE, 4, "Storage corrupted");
        }
        // The list page is never free; an interval claiming it is damage. (Intervals that
        // cover other tracks' pages are left to the journal replay that follows: an
        // interrupted track deletion leaves exactly such an interval, which it undoes.)
        _list.setReserved({head, last});
        _list.loadFrom(*_page, superBlock.pageCount());
        _list.merge();
        _list.sort();
        _list.saveTo(*_page);
    }
    uint32_t count = _list.intervalCount();
    _mergeThreshold = count >= InitialMergeThreshold ? count + 1 : InitialMergeThreshold;
}

void FixedSizeFreePageAllocator::checkListPage(uint32_t lastPageChecksum) {
    FreePageListPage& page = *_page;
    bool linked = page.type().equals(PageType::FreePageList) && page.checksum() == lastPageChecksum &&
                  page.superChecksum() == page.superBlock().checksum();
    if (!linked || page.itemSize() != TarsilFormat::FreePageListItemSize || !page.isConsistent()) {
        _page->reset();
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
}

void FixedSizeFreePageAllocator::reset() {
    if (_page) {
        _page->reset();
    }
    _list.clear();
    _list.setMaxPage(FreePageList::NoLimit);
    _list.setReserved({});
}

void FixedSizeFreePageAllocator::flush() {
    if (_page && _page->isLoaded()) {
        _page->syncSaveDirty();
    }
}

void FixedSizeFreePageAllocator::format(SuperBlock& superBlock, PageCache& cache) {
    _page = std::make_unique<FreePageListPage>(superBlock, cache);
    _page->init(PageType::FreePageList, ListPage, TarsilFormat::FreePageListItemSize, 0, 0);
    _list.clear();
    _list.setMaxPage(superBlock.pageCount());
    _list.setReserved({ListPage});
    if (superBlock.pageCount() > ListPage) {
        _list.add(ListPage + 1, superBlock.pageCount());
    }
    // The whole page, so nothing of what the file held there before remains in it.
    _list.fill(*_page);
    _page->save();
    superBlock.registerTrack(PageType::FreePageList, BitMask32(0xFFFFFFFF), ListPage, _page->checksum());
    _mergeThreshold = InitialMergeThreshold;
}

bool FixedSizeFreePageAllocator::isListed(uint32_t page) {
    return _page && _page->isLoaded() && _page->contains(page);
}

void FixedSizeFreePageAllocator::makeRoom() {
    if (!_page->isFull()) {
        return;
    }
    _list.merge();
    _list.sort();
    _page->clear();
    for (const FreePageListItem& item : _list.intervals()) {
        if (_page->itemCount() + 1 >= _page->capacity()) {
            QF_TRACE("FixedSizeFreePageAllocator: free list exceeds its page, %u intervals kept in memory only",
                     _list.intervalCount() - _page->itemCount());
            break;
        }
        _page->push(item);
    }
}

void FixedSizeFreePageAllocator::extract(uint32_t page) {
    if (_page && _page->isLoaded()) {
        // A page given back before its earlier extract (a rollback of a page taken but not
        // yet flushed) is listed twice; every listing must go, or the next open would hand
        // the page out again while its track holds it. Each pass removes one listing.
        uint32_t passes = _page->itemCount() + 1;
        for (int index = _page->find(page); index >= 0 && passes > 0; index = _page->find(page), --passes) {
            FreePageListItem item;
            _page->readItem(static_cast<uint32_t>(index), item);
            if (item.first() < page && page < item.last() && _page->isFull()) {
                makeRoom();
            }
            _page->remove(page);
        }
    }
    _list.remove(page);
}

void FixedSizeFreePageAllocator::appendInterval(uint32_t first, uint32_t last) {
    if (!_list.add(first, last)) {
        // Invalid, or pages already free: the stored list must not gain them either.
        return;
    }
    if (_page && _page->isLoaded()) {
        if (_page->isFull()) {
            makeRoom();
            if (_page->contains(first)) {
                return;  // the rewrite from memory already holds the new pages
            }
        }
        _page->appendInterval(first, last);
    }
}

void FixedSizeFreePageAllocator::append(uint32_t page) {
    if (consumable(page)) {
        return;
    }
    appendInterval(page, page);
}

void FixedSizeFreePageAllocator::restore(uint32_t page) {
    if (isListed(page) && !consumable(page)) {
        _list.add(page, page);
    }
}

uint32_t FixedSizeFreePageAllocator::compact() {
    _list.sort();
    uint32_t count = _list.intervalCount();
    if (count <= _mergeThreshold) {
        return count;
    }
    if (_list.merge()) {
        count = _list.intervalCount();
        if (count < _mergeThreshold) {
            _mergeThreshold = _mergeThreshold < 20 ? InitialMergeThreshold : _mergeThreshold / 2;
        }
        return count;
    }
    _mergeThreshold *= 2;
    return count;
}

void FixedSizeFreePageAllocator::dump() {
    QF_TRACE("[Free Page List]-------------------------------------------");
    int index = 0;
    for (const FreePageListItem& item : _list.intervals()) {
        QF_TRACE("[%2d] (%7d ~ %7d)  COUNT = %u", index++, static_cast<int>(item.first()), static_cast<int>(item.last()),
                 item.count());
    }
    QF_TRACE("Total Free Page Count: %u", _list.freeCount());
    QF_TRACE("-----------------------------------------------------------");
}
