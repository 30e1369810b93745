#include "storage/MediaTrack.h"

#include <mutex>

#include "base/TarsilException.h"
#include "base/TextOf.h"
#include "storage/OverwritePreparer.h"
#include "storage/Storage.h"
#include "storage/StorageUtility.h"
#include "storage/TarsilError.h"
#include "storage/Timeline.h"
#include "storage/TimelineElement.h"
#include "storage/pager/FreePageList.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"
#include "storage/transaction/OverwriteTransaction.h"
#include "storage/transaction/RollbackTransaction.h"

MediaTrack::MediaTrack() : Track(PageType::Media, MediaElement::HeaderSize) {}

MediaTrack::MediaTrack(const PageType& type) : Track(type, MediaElement::HeaderSize) {}

MediaTrack::~MediaTrack() = default;

std::unique_ptr<IRecordable> MediaTrack::newElement() const {
    return std::make_unique<MediaElement>();
}

uint32_t MediaTrack::endOfElements(Page& page, uint64_t& end) {
    if (page.isEmpty()) {
        end = page.firstItemOffset();
        return 0;
    }
    MediaElement last;
    if (!readAt(page, page.lastItemOffset(), last)) {
        end = ~uint64_t(0);
        return 0;
    }
    end = uint64_t(page.lastItemOffset()) + MediaElement::HeaderSize + uint32_t(last.dataSize());
    return 1;
}

void MediaTrack::init(Storage* storage, bool write, uint32_t lastPageNumber) {
    _preparer.reset();
    Track::init(storage, write, lastPageNumber);
    Page* page = currentPage();
    if (write && page != nullptr) {
        uint64_t end = 0;
        endOfElements(*page, end);
        if (end > storage->superBlock().pageSize()) {
            // The last frame's continuation never joined the track (the power went
            // before it did): the frame is incomplete and goes.
            logLine("MediaTrack::init : last element of page %u continues past the track's end: removed",
                    page->pageNumber());
            MediaElement scratch;
            removeAfter(*page, PagePosition(page->pageNumber(), page->lastItemOffset()), scratch);
        } else {
            page->buffer().setPosition(static_cast<int>(end));
            setCursor(PagePosition(page->pageNumber(), static_cast<uint32_t>(end)));
        }
    }
    if (write && type().equals(PageType::Media)) {
        restartPreparer();
    }
}

void MediaTrack::restartPreparer() {
    if (!isWritable() || !type().equals(PageType::Media)) {
        return;
    }
    if (_preparer) {
        _preparer->stop();
    }
    _preparer = storage()->newOverwritePreparer();
    _preparer->start(storage(), storage()->overwritePreparerCapacity());
}

bool MediaTrack::close(bool flush) {
    if (_preparer) {
        _preparer->stop();
        _preparer.reset();
    }
    return Track::close(flush);
}

Page* MediaTrack::appendPage(IPageInitializer* initializer) {
    if (_preparer) {
        _preparer->prepareOne();
    }
    return Track::appendPage(initializer);
}

bool MediaTrack::pagesBefore(uint32_t stop, FreePageList& freed) {
    TrackListItem item;
    if (!storage()->findTrack(type(), item)) {
        return false;
    }
    SuperBlock& superBlock = storage()->superBlock();
    Page header(superBlock, storage()->pageCache());
    uint32_t number = item.firstPage();
    uint32_t checksum = item.firstPageChecksum();
    uint32_t last = currentPage() != nullptr ? currentPage()->pageNumber() : item.lastPage();
    for (uint32_t steps = 0; steps <= superBlock.pageCount(); ++steps) {
        if (number == stop) {
            return true;
        }
        if (!superBlock.isPageNumber(number)) {
            return false;
        }
        if (number == last) {
            // The page being written: its header is the one in memory.
            return stop == 0 && currentPage() != nullptr && currentPage()->checksum() == checksum &&
                   freed.add(number, number);
        }
        header.loadHeader(number, true);
        if (!header.type().equals(type()) || header.checksum() != checksum || !freed.add(number, number)) {
            return false;
        }
        checksum = header.nextChecksum();
        number = header.next();
    }
    return false;
}

void MediaTrack::deleteAll() {
    FreePageList freed;
    if (!pagesBefore(0, freed)) {
        QF_THROW_TARSIL(TarsilError::StorageCorrupted);
    }
    deleteTrack(freed);
}

void MediaTrack::removeAll() {
    if (isEmpty() && !storage()->hasTrack(type())) {
        return;
    }
    flush();
    deleteAll();
    restartPreparer();
}

uint32_t MediaTrack::firstPageByTimeline() {
    auto* timeline = dynamic_cast<Timeline*>(storage()->track(PageType::Timeline));
    if (timeline != nullptr && !timeline->isEmpty()) {
        Page timelinePage(storage()->superBlock(), storage()->pageCache());
        Page media(storage()->superBlock(), storage()->pageCache());
        TimelineElement entry;
        PagePosition position = StorageUtility(*storage()).firstPosition(PageType::Timeline);
        bool ok = position.isSet() && timeline->read(timelinePage, position, entry);
        uint32_t loaded = 0;
        while (ok) {
            uint32_t number = entry.mediaPosition().number;
            if (number != loaded && storage()->superBlock().isPageNumber(number)) {
                media.loadHeader(number, true);
                loaded = number;
                if (media.type().equals(PageType::Media)) {
                    logLine("MediaTrack: found first page by timeline (%u, %u). new first media page=%u first id=%llu",
                            position.number, position.offset, number,
                            static_cast<unsigned long long>(media.firstItemID()));
                    return number;
                }
            }
            ok = timeline->next(timelinePage, position, entry);
        }
    }
    logLine("MediaTrack: cannot found first page by timeline!");
    QF_THROW_TARSIL(TarsilError::StorageCorrupted);
}

uint32_t MediaTrack::firstPageAtOrAbove(uint64_t before) {
    TrackListItem item;
    if (!storage()->findTrack(type(), item)) {
        return 0;
    }
    SuperBlock& superBlock = storage()->superBlock();
    Page header(superBlock, storage()->pageCache());
    uint32_t number = item.firstPage();
    uint32_t checksum = item.firstPageChecksum();
    for (uint32_t steps = 0; steps <= superBlock.pageCount() && superBlock.isPageNumber(number); ++steps) {
        if (currentPage() != nullptr && number == currentPage()->pageNumber()) {
            return number;
        }
        header.loadHeader(number, true);
        if (!header.type().equals(type()) || header.checksum() != checksum) {
            return 0;
        }
        if (header.lastItemID() >= before) {
            return number;
        }
        checksum = header.nextChecksum();
        number = header.next();
    }
    return 0;
}

void MediaTrack::makeFirst(uint32_t number, FreePageList& freed) {
    Page* page = loadPageToOverwrite(number);
    if (page != currentPage()) {
        page->load(number, false);
        if (!page->type().equals(type()) || page->superChecksum() != storage()->superBlock().checksum()) {
            page->reset();
            QF_THROW_TARSIL(TarsilError::StorageCorrupted);
        }
    }
    {
        std::lock_guard<Mutex> lock(page->mutex());
        page->setPrevious(0);
        page->setPreviousChecksum(Page::InvalidPageChecksum);
    }
    bool isCurrent = page == currentPage();
    OverwriteTransaction(*storage(), freed, *page, !isCurrent, true).commit();
    storage()->updateTrackFirst(type(), page->pageNumber(), page->checksum());
}

bool MediaTrack::overwrite(uint64_t before) {
    if (isEmpty()) {
        return false;
    }
    TrackListItem item;
    if (!storage()->findTrack(type(), item)) {
        return false;
    }
    // The ID of the track's last element: the current page's, or for a page holding only
    // a tail, the page before it.
    uint64_t lastID = currentPage()->lastItemID();
    if (currentPage()->isEmpty() && currentPage()->previous() != 0) {
        Page header(storage()->superBlock(), storage()->pageCache());
        header.loadHeader(currentPage()->previous(), true);
        lastID = header.lastItemID();
    }
    if (lastID < before) {
        flush();
        deleteAll();
        restartPreparer();
        return true;
    }
    FreePageList freed;
    uint32_t first = _preparer ? _preparer->complete(before, freed) : firstPageAtOrAbove(before);
    if (first == 0) {
        char line[128];
        std::snprintf(line, sizeof line, "MediaTrack: OverwritePreparer::complete() returns null! before=%llu",
                      static_cast<unsigned long long>(before));
        storage()->log(line, 1, false);
        first = firstPageByTimeline();
        restartPreparer();
    }
    if (first == item.firstPage()) {
        return false;
    }
    FreePageList walked;
    if (!pagesBefore(first, walked)) {
        // What the preparer named is not where the chain leads: the chain decides.
        logLine("MediaTrack: page %u named for the new first page is not in the track", first);
        QF_THROW_TARSIL(TarsilError::StorageCorrupted);
    }
    makeFirst(first, walked);
    return true;
}

void MediaTrack::removeAfter(Page& page, const PagePosition& position, MediaElement& scratch) {
    uint32_t pageSize = storage()->superBlock().pageSize();
    std::unique_lock<Mutex> lock(page.mutex());
    page.setNext(0);
    page.setNextChecksum(Page::InvalidPageChecksum);
    uint32_t cursor;
    if (position.number != page.pageNumber() || page.isEmpty() || page.lastItemOffset() < position.offset) {
        uint64_t end = 0;
        endOfElements(page, end);
        if (end > pageSize) {
            // The last element's tail lay on a page that is cut: it goes as well.
            lock.unlock();
            removeAfter(page, PagePosition(page.pageNumber(), page.lastItemOffset()), scratch);
            return;
        }
        logLine("MediaTrack::removeAfter : no need to remove after : %s last item offset = %u",
                textOf(type()).c_str(), page.lastItemOffset());
        cursor = static_cast<uint32_t>(end);
    } else {
        uint32_t offset = page.firstItemOffset();
        uint32_t kept = 0;
        uint32_t flags = 0;
        uint64_t lastID = 0;
        uint32_t lastOffset = Page::IndexData;
        uint32_t count = page.itemCount();
        while (kept < count && offset < position.offset && readAt(page, offset, scratch)) {
            uint64_t size = uint64_t(MediaElement::HeaderSize) + uint32_t(scratch.dataSize());
            if (offset + size > position.offset) {
                break;  // an element overlapping the cut is not a whole element
            }
            ++kept;
            if (scratch.countsInPageMask()) {
                flags |= scratch.channelMask().value();
            }
            lastID = scratch.mediaID();
            lastOffset = offset;
            offset += static_cast<uint32_t>(size);
        }
        logLine("MediaTrack::removeAfter : page %s %u updated : last = %llu -> %llu", textOf(type()).c_str(),
                page.pageNumber(), static_cast<unsigned long long>(page.lastItemID()),
                static_cast<unsigned long long>(lastID));
        page.setItemCount(kept);
        page.setItemFlags(flags);
        page.setLastItemID(lastID);
        page.setLastItemOffset(lastOffset);
        if (kept == 0) {
            page.setFirstItemID(0);
        }
        // Without a kept element the page may still begin with the previous frame's tail.
        cursor = kept == 0 ? page.firstItemOffset() : offset;
    }
    page.buffer().setPosition(static_cast<int>(cursor));
    if (&page == currentPage()) {
        setCursor(PagePosition(page.pageNumber(), cursor));
    }
}

PagePosition MediaTrack::positionAfterID(uint64_t after) {
    if (isEmpty()) {
        return PagePosition();
    }
    SuperBlock& superBlock = storage()->superBlock();
    Page scan(superBlock, storage()->pageCache());
    Page* page = currentPage();
    uint32_t later = 0;
    uint32_t laterFirstOffset = 0;
    for (uint32_t steps = 0; steps <= superBlock.pageCount(); ++steps) {
        if (!page->isEmpty() && page->firstItemID() <= after) {
            break;
        }
        if (page->previous() == 0) {
            return PagePosition(page->pageNumber(), page->firstItemOffset());
        }
        later = page->pageNumber();
        laterFirstOffset = page->firstItemOffset();
        uint32_t previous = page->previous();
        uint32_t checksum = page->previousChecksum();
        if (!superBlock.isPageNumber(previous)) {
            QF_THROW_TARSIL(TarsilError::StorageCorrupted);
        }
        scan.load(previous, true);
        if (!scan.type().equals(type()) || scan.checksum() != checksum) {
            QF_THROW_TARSIL(TarsilError::StorageCorrupted);
        }
        page = &scan;
    }
    MediaElement element;
    uint32_t offset = page->firstItemOffset();
    for (uint32_t i = 0; i < page->itemCount() && readAt(*page, offset, element); ++i) {
        if (element.mediaID() > after) {
            return PagePosition(page->pageNumber(), offset);
        }
        offset += MediaElement::HeaderSize + uint32_t(element.dataSize());
        if (offset >= superBlock.pageSize()) {
            break;
        }
    }
    return later != 0 ? PagePosition(later, laterFirstOffset) : PagePosition();
}

void MediaTrack::rollbackAfter(uint64_t after) {
    PagePosition position = positionAfterID(after);
    if (position.isSet()) {
        rollback(position);
    }
}

void MediaTrack::rollback(uint64_t after, IRecordable& scratch) {
    (void)scratch;
    rollbackAfter(after);
}

void MediaTrack::rollback(const PagePosition& position) {
    if (isEmpty()) {
        return;
    }
    SuperBlock& superBlock = storage()->superBlock();
    {
        // The position must lie in the track: walk back to its page first.
        Page header(superBlock, storage()->pageCache());
        uint32_t number = currentPage()->pageNumber();
        uint32_t previous = currentPage()->previous();
        for (uint32_t steps = 0; number != position.number; ++steps) {
            if (previous == 0 || steps > superBlock.pageCount() || !superBlock.isPageNumber(previous)) {
                logLine("MediaTrack::rollback : (%u, %u) is not in the track", position.number, position.offset);
                return;
            }
            header.loadHeader(previous, true);
            number = previous;
            previous = header.previous();
        }
    }
    FreePageList freed;
    for (uint32_t steps = 0;; ++steps) {
        Page* current = currentPage();
        if (current->pageNumber() == position.number &&
            !(position.offset <= current->firstItemOffset() && current->firstItemOffset() == Page::IndexData)) {
            break;
        }
        freed.add(current->pageNumber(), current->pageNumber());
        if (current->previous() == 0) {
            logLine("MediaTrack::rollback : %s deleted", textOf(type()).c_str());
            deleteTrack(freed);
            restartPreparer();
            return;
        }
        if (steps > superBlock.pageCount()) {
            QF_THROW_TARSIL(TarsilError::StorageCorrupted);
        }
        uint32_t previous = current->previous();
        uint32_t checksum = current->previousChecksum();
        if (overwritePage()->isLoaded() && overwritePage()->pageNumber() == previous) {
            overwritePage()->reset();
        }
        Page* other = otherPage();
        loadChecked(*other, previous, checksum);
        logLine("MediaTrack::rollback : free %s %u", textOf(type()).c_str(), current->pageNumber());
        current->reset();
        setCurrent(other);
    }
    MediaElement scratch;
    removeAfter(*currentPage(), position, scratch);
    RollbackTransaction(*storage(), freed, *currentPage()).commit();
    storage()->updateTrackLast(type(), currentPage()->pageNumber(), currentPage()->checksum());
    restartPreparer();
}
