#include "storage/Timeline.h"

#include <mutex>

#include "base/TarsilException.h"
#include "base/TextOf.h"
#include "storage/Storage.h"
#include "storage/TarsilError.h"
#include "storage/TimelineLinkedElement.h"
#include "storage/pager/FreePageList.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"
#include "storage/transaction/OverwriteTransaction.h"

Timeline::Timeline() : Track(PageType::Timeline, TimelineElement::RecordSize) {}

Timeline::~Timeline() = default;

std::unique_ptr<IRecordable> Timeline::newElement() const {
    return std::make_unique<TimelineElement>();
}

void Timeline::clearMaps() {
    _sync.clear();
    _lastPositions.clear();
}

std::map<uint32_t, Timeline::KeyState> Timeline::keyStates() const {
    return _sync;
}

void Timeline::continueRecording(const std::map<uint32_t, KeyState>& states) {
    clearMaps();
    _sync = states;
    // The older recording here is given up from the front, a page at a time: on a page
    // of its own the new recording is never given up with the last of the old.
    Page* page = currentPage();
    if (page != nullptr && page->isLoaded() && !page->isEmpty()) {
        appendPage(nullptr);
    }
}

void Timeline::init(Storage* storage, bool write, uint32_t lastPageNumber) {
    Track::init(storage, write, lastPageNumber);
    clearMaps();
    if (write && lastPageNumber != 0) {
        rebuildFromLastPage();
        if (currentPage() != nullptr && currentPage()->previous() != 0) {
            firstPage();
        }
    }
}

bool Timeline::close(bool flush) {
    bool ok = Track::close(flush);
    clearMaps();
    return ok;
}

void Timeline::rebuildFromLastPage() {
    Page* page = currentPage();
    if (page == nullptr || !page->isLoaded() || page->isEmpty()) {
        return;
    }
    uint32_t remaining = page->itemFlags();
    uint32_t pageSize = storage()->superBlock().pageSize();
    uint32_t first = page->firstItemOffset();
    uint32_t offset = page->lastItemOffset();
    TimelineElement element;
    for (uint32_t i = 0; i < page->itemCount() && remaining != 0 && offset >= first; ++i) {
        if (offset + TimelineElement::RecordSize > pageSize) {
            break;
        }
        element.readFrom(page->buffer(), static_cast<int>(offset));
        Chain chain(element.mediaType(), element.channelMask().value());
        if (_lastPositions.find(chain) == _lastPositions.end()) {
            _lastPositions[chain] = PagePosition(page->pageNumber(), offset);
        }
        if (element.mediaType() == TimelineLinkedElement::Video) {
            uint32_t mask = element.channelMask().value();
            if (_sync.find(mask) == _sync.end()) {
                _sync[mask] = Sync{element.syncKeyID(), element.syncIndex()};
            }
            remaining &= ~mask;
        }
        if (offset < first + TimelineElement::RecordSize) {
            break;
        }
        offset -= TimelineElement::RecordSize;
    }
}

bool Timeline::accepts(const TimelineLinkedElement& frame) {
    if (frame.syncIndex() == 0 || frame.mediaType() == TimelineLinkedElement::TextIn) {
        return true;
    }
    auto found = _sync.find(frame.channelMask().value());
    if (found != _sync.end() && found->second.syncKeyID == frame.syncKeyID() &&
        uint32_t(found->second.syncIndex) + 1 == frame.syncIndex()) {
        return true;
    }
    if (found != _sync.end()) {
        logLine("Timeline::write : e->mediaID =%llu", static_cast<unsigned long long>(frame.mediaID()));
        logLine("                  it->second.syncKeyID = %d, it->second.syncIndex = %d",
                static_cast<int>(found->second.syncKeyID), static_cast<int>(found->second.syncIndex));
        logLine("                  e->syncKeyID         = %d, e->syncIndex         = %d",
                static_cast<int>(frame.syncKeyID()), static_cast<int>(frame.syncIndex()));
    }
    return false;
}

PagePosition Timeline::write(const TimelineLinkedElement& frame, const PagePosition& elementPosition,
                             TimelineElement& entry) {
    if (!accepts(frame)) {
        logLine("[IGNORE] Timeline::write() NEED KEY %llu", static_cast<unsigned long long>(frame.mediaID()));
        return PagePosition();
    }
    Chain chain(frame.mediaType(), frame.channelMask().value());
    entry.setMediaType(frame.mediaType());
    entry.setChannelMask(frame.channelMask());
    entry.setLinkedChannelMask(frame.linkedChannelMask());
    entry.setTime(frame.time());
    entry.setSyncKeyID(frame.syncKeyID());
    entry.setSyncIndex(frame.syncIndex());
    entry.setMediaID(frame.mediaID());
    entry.setMediaPosition(elementPosition);
    auto last = _lastPositions.find(chain);
    entry.setPreviousPosition(last != _lastPositions.end() ? last->second : PagePosition());
    entry.setMediaSize(static_cast<uint32_t>(frame.headerSize()) + static_cast<uint32_t>(frame.dataSize()));
    PagePosition position = Track::write(entry);
    _lastPositions[chain] = position;
    if (frame.mediaType() == TimelineLinkedElement::Video) {
        _sync[frame.channelMask().value()] = Sync{frame.syncKeyID(), frame.syncIndex()};
    }
    if (!overwritePage()->isLoaded() && currentPage() != nullptr && currentPage()->previous() != 0) {
        firstPage();
    }
    return position;
}

bool Timeline::overwrite(uint64_t before) {
    TimelineElement scratch;
    bool freed = overwriteFront(before, scratch);
    if (isEmpty()) {
        clearMaps();
    }
    return freed;
}

void Timeline::rollback(uint64_t after, IRecordable& scratch) {
    Track::rollback(after, scratch);
    clearMaps();
    if (!isEmpty()) {
        rebuildFromLastPage();
    }
}

void Timeline::removeFirstPage() {
    if (isEmpty()) {
        logLine("Timeline::removeFirstPage : already empty");
        return;
    }
    Page* first = firstPage();
    FreePageList freed;
    freed.add(first->pageNumber(), first->pageNumber());
    if (first == currentPage() || first->next() == 0) {
        deleteTrack(freed);
        clearMaps();
        return;
    }
    uint32_t next = first->next();
    uint32_t nextChecksum = first->nextChecksum();
    Page* page = loadPageToOverwrite(next);
    if (page != currentPage()) {
        loadChecked(*page, next, nextChecksum);
    } else if (page->checksum() != nextChecksum) {
        QF_THROW_TARSIL(TarsilError::StorageCorrupted);
    }
    TimelineElement scratch;
    dropItemsBefore(*page, page->firstItemID(), scratch);
    bool isCurrent = page == currentPage();
    OverwriteTransaction(*storage(), freed, *page, !isCurrent, true).commit();
    storage()->updateTrackFirst(type(), page->pageNumber(), page->checksum());
}

bool Timeline::dropFirstPage(uint64_t& newFirstID) {
    TrackListItem item;
    if (isEmpty() || !storage()->findTrack(type(), item) || item.firstPage() == item.lastPage()) {
        return false;
    }
    removeFirstPage();
    newFirstID = firstItemID();
    return true;
}

uint64_t Timeline::firstItemID() {
    if (isEmpty()) {
        return 0;
    }
    Page* page = firstPage();
    return page != nullptr && page->isLoaded() ? page->firstItemID() : 0;
}

bool Timeline::syncStateOf(uint32_t mask, uint32_t& syncKeyID, uint16_t& syncIndex) const {
    auto found = _sync.find(mask);
    if (found == _sync.end()) {
        return false;
    }
    syncKeyID = found->second.syncKeyID;
    syncIndex = found->second.syncIndex;
    return true;
}

PagePosition Timeline::lastPositionOf(uint16_t mediaType, uint32_t mask) const {
    auto found = _lastPositions.find(Chain(mediaType, mask));
    return found != _lastPositions.end() ? found->second : PagePosition();
}
