#include "storage/util/StorageCorrector.h"

#include <algorithm>
#include <set>

#include "base/AssertionFailException.h"
#include "base/Exception.h"
#include "base/SystemException.h"
#include "base/TarsilException.h"
#include "base/TextOf.h"
#include "storage/MediaElement.h"
#include "storage/RecordingTableElement.h"
#include "storage/Storage.h"
#include "storage/Track.h"
#include "storage/TextInElement.h"
#include "storage/TimelineElement.h"
#include "storage/TimelineLinkedElement.h"
#include "storage/pager/FreePageList.h"
#include "storage/pager/IFreePageAllocator.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TarsilAbility.h"
#include "storage/pager/TrackListItem.h"
#include "storage/transaction/ITransactionHandler.h"
#include "storage/util/CorrectionLog.h"
#include "storage/util/CorrectionTransaction.h"
#include "storage/util/DataTracks.h"
#include "storage/util/FirstPageCorrector.h"
#include "storage/util/LastPageCorrector.h"
#include "storage/util/PageElements.h"
#include "storage/util/internal/StorageRecoverer.h"

namespace {

constexpr uint64_t NoID = ~uint64_t(0);

// The tracks cut to the timeline's range of media IDs.
const PageType* const AlignedTypes[] = {&PageType::RecordingTable, &PageType::Event, &PageType::Media,
                                        &PageType::PreEvent, &PageType::TextIn};

}  // namespace

StorageCorrector::StorageCorrector(Storage& storage) : _storage(storage), _utility(storage) {}

void StorageCorrector::log(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    correctionLog(_storage, fmt, args);
    va_end(args);
}

bool StorageCorrector::run(bool recover) {
    if (!correction()) {
        return false;
    }
    return !recover || this->recover();
}

bool StorageCorrector::correction() {
    try {
        {
            AssertionsEnabledScope checks;
            QF_ASSERT(_storage.isAbleTo(TarsilAbility::Journaling));
        }
        _storage.transactionHandler()->rollbackTransaction();
        // Cutting tracks to common media IDs needs the recording tracks this storage
        // installs; a storage with other tracks only gets its track ends repaired.
        bool recording = _storage.timeline() != nullptr && _storage.mediaTrack() != nullptr;
        if (recording && isEmptyTrack(PageType::Media) && isEmptyTrack(PageType::PreEvent) && isEmptyTrack(PageType::TextIn)) {
            deleteEveryDataTrack();
            log("%s", "empty");
            return true;
        }
        AssertionsEnabledScope checks;
        FirstPageCorrector(_storage).run();
        LastPageCorrector(_storage).run();
        if (recording) {
            correctFronts();
            correctEnds();
        }
        return true;
    } catch (const TarsilException& e) {
        log("Correction TarsilException %s", messageOf(e));
    } catch (const Exception& e) {
        log("Correction Exception %s", messageOf(e));
    } catch (const std::exception& e) {
        log("Correction Exception %s", e.what());
    } catch (...) {
        log("%s", "Correction unknownException");
    }
    return false;
}

bool StorageCorrector::recover() {
    try {
        StorageRecoverer(_storage).run();
        return true;
    } catch (const Exception& e) {
        log("Recovery Exception %s", messageOf(e));
    } catch (const std::exception& e) {
        log("Recovery Exception %s", e.what());
    }
    return false;
}

uint64_t StorageCorrector::nextMediaID() {
    uint64_t id = 0;
    if (lastID(PageType::Timeline, id)) {
        return id + 1;
    }
    return _storage.superBlock().nextItemID();
}

bool StorageCorrector::lastID(const PageType& type, uint64_t& id) {
    Track* track = _storage.track(type);
    if (track == nullptr) {
        return false;
    }
    std::unique_ptr<IRecordable> element = track->newElement();
    if (!_utility.lastItem(type, *element)) {
        return false;
    }
    id = element->mediaID();
    return true;
}

// A track is empty without a track-list entry, or when its last page holds nothing and
// has no page before it (a last page holding only a frame's tail is not empty). A last
// page that cannot be read is left to the page correctors.
bool StorageCorrector::isEmptyTrack(const PageType& type) {
    TrackListItem item;
    if (!_storage.findTrack(type, item)) {
        return true;
    }
    Page page(_storage.superBlock(), _storage.pageCache());
    try {
        _utility.loadPage(page, type, item.lastPage(), item.lastPageChecksum(), true);
    } catch (const TarsilException&) {
        return false;
    } catch (const SystemException&) {
        return false;
    }
    return page.isEmpty() && page.previous() == 0;
}

void StorageCorrector::deleteEveryDataTrack() {
    for (const TrackListItem& item : _storage.tracks()) {
        if (isCorrectedTrackType(item.type())) {
            log("delete track: %s", textOf(item.type()).c_str());
            deleteTrack(item.type());
        }
    }
}

// Frees every page reachable from the track's first page (and the last page the list
// names) and drops the track from the list, as one change.
void StorageCorrector::deleteTrack(const PageType& type) {
    TrackListItem item;
    if (!_storage.findTrack(type, item)) {
        return;
    }
    SuperBlock& superBlock = _storage.superBlock();
    IFreePageAllocator& allocator = *_storage.freePageAllocator();
    FreePageList freed;
    auto take = [&](uint32_t number) {
        if (superBlock.isPageNumber(number) && !allocator.consumable(number) && !freed.contains(number)) {
            freed.add(number, number);
        }
    };
    Page page(superBlock, _storage.pageCache());
    uint32_t number = item.firstPage();
    uint32_t checksum = item.firstPageChecksum();
    for (uint32_t steps = 0; steps <= superBlock.pageCount() && superBlock.isPageNumber(number); ++steps) {
        try {
            page.loadHeader(number, true);
        } catch (const SystemException&) {
            break;
        }
        if (!page.type().equals(type) || page.checksum() != checksum || freed.contains(number)) {
            break;
        }
        take(number);
        if (number == item.lastPage()) {
            break;
        }
        checksum = page.nextChecksum();
        number = page.next();
    }
    take(item.lastPage());
    page.reset();
    CorrectionTransaction deletion(_storage);
    deletion.free(freed);
    deletion.deleteTrack(type);
    deletion.commit();
    _storage.forgetTrack(type);
}

void StorageCorrector::correctFronts() {
    if (!isEmptyTrack(PageType::PreEvent)) {
        truncateLastOverflowedFrame(PageType::PreEvent);
    }
    trimUnresolvedTimelineFront();
    alignFronts();
}

void StorageCorrector::correctEnds() {
    if (!isEmptyTrack(PageType::Media)) {
        truncateLastOverflowedFrame(PageType::Media);
    }
    trimTimelineToMedia();
    alignEnds();
    trimRecordingTableToTimeline();
}

bool StorageCorrector::pointsIntoTimeline(const RecordingTableElement& record) {
    if (record.isStop()) {
        return true;
    }
    const PagePosition& position = record.position();
    if (!_storage.superBlock().isPageNumber(position.number)) {
        return false;
    }
    Page page(_storage.superBlock(), _storage.pageCache());
    page.loadHeader(position.number, true);
    return page.type().equals(PageType::Timeline);
}

// Records naming timeline pages that a damaged timeline gave up are cut from both ends of
// the table (its records are few: a handful per timeline page).
void StorageCorrector::trimRecordingTableToTimeline() {
    uint32_t limit = _storage.superBlock().pageCount();
    RecordingTableElement record;
    for (uint32_t steps = 0; steps <= limit && _utility.firstItem(PageType::RecordingTable, record) &&
                             !pointsIntoTimeline(record);
         ++steps) {
        log("recording table record %llu points outside the timeline", static_cast<unsigned long long>(record.mediaID()));
        truncateBefore(PageType::RecordingTable, record.mediaID() + 1);
    }
    for (uint32_t steps = 0; steps <= limit && _utility.lastItem(PageType::RecordingTable, record) &&
                             !pointsIntoTimeline(record);
         ++steps) {
        log("recording table record %llu points outside the timeline", static_cast<unsigned long long>(record.mediaID()));
        truncateAfter(PageType::RecordingTable, record.mediaID() == 0 ? 0 : record.mediaID() - 1);
    }
}

void StorageCorrector::truncateLastOverflowedFrame(const PageType& type) {
    Page page(_storage.superBlock(), _storage.pageCache());
    if (!_utility.loadLastPage(page, type, false)) {
        return;
    }
    log("load last page:%s last position:(%u, %u) last id:%llu", textOf(type).c_str(), page.pageNumber(),
        page.lastItemOffset(), static_cast<unsigned long long>(page.lastItemID()));
    PageElements elements(_storage, type);
    if (elements.lastOverflows(page)) {
        if (page.itemCount() == 1 && page.previous() == 0 && page.firstItemOffset() == Page::IndexData) {
            log("delete track: %s", textOf(type).c_str());
            page.reset();
            deleteTrack(type);
            return;
        }
        uint64_t last = page.lastItemID();
        elements.keepUpTo(page, NoID);
        log("%s truncate overflowed frame %llu, result last %llu", textOf(type).c_str(),
            static_cast<unsigned long long>(last), static_cast<unsigned long long>(page.lastItemID()));
    } else if (page.next() != 0 || page.nextChecksum() != Page::InvalidPageChecksum) {
        page.setNext(0);
        page.setNextChecksum(Page::InvalidPageChecksum);
    } else {
        return;
    }
    QF_ASSERT(page.next() == 0);
    QF_ASSERT(page.nextChecksum() == Page::InvalidPageChecksum);
    // One header sector: written whole or not at all, and redone by the next open.
    page.saveHeader();
}

bool StorageCorrector::resolves(Page& scratch, uint64_t id, uint16_t mediaType, uint32_t number, uint32_t offset) {
    SuperBlock& superBlock = _storage.superBlock();
    if (!superBlock.isPageNumber(number)) {
        return false;
    }
    bool text = mediaType == TimelineLinkedElement::TextIn;
    try {
        scratch.load(number, true);
    } catch (const SystemException&) {
        return false;
    }
    PageType type = scratch.type();
    if (text ? !type.equals(PageType::TextIn) : !(type.equals(PageType::Media) || type.equals(PageType::PreEvent))) {
        return false;
    }
    if (scratch.isEmpty() || scratch.superChecksum() != superBlock.checksum() || offset < scratch.firstItemOffset() ||
        offset > scratch.lastItemOffset()) {
        return false;
    }
    PageElements elements(_storage, type);
    if (elements.endOf(scratch, offset) == 0) {
        return false;
    }
    return elements.scratch().mediaID() == id;
}

void StorageCorrector::trimUnresolvedTimelineFront() {
    Page page(_storage.superBlock(), _storage.pageCache());
    Page scratch(_storage.superBlock(), _storage.pageCache());
    if (!_utility.loadFirstPage(page, PageType::Timeline, true)) {
        return;
    }
    uint32_t limit = _storage.superBlock().pageCount();
    TimelineElement entry;
    for (uint32_t steps = 0; steps <= limit; ++steps) {
        uint32_t offset = page.firstItemOffset();
        for (uint32_t i = 0; i < page.itemCount() && offset + TimelineElement::RecordSize <= _storage.pageSize();
             ++i, offset += TimelineElement::RecordSize) {
            entry.readFrom(page.buffer(), static_cast<int>(offset));
            if (resolves(scratch, entry.mediaID(), entry.mediaType(), entry.mediaPosition().number,
                         entry.mediaPosition().offset)) {
                if (steps > 0 || i > 0) {
                    log("timeline front names no element: truncate before %llu",
                        static_cast<unsigned long long>(entry.mediaID()));
                    page.reset();
                    truncateBefore(PageType::Timeline, entry.mediaID());
                }
                return;
            }
        }
        if (!_utility.loadNextPage(page)) {
            break;
        }
    }
    log("%s", "no timeline entry names an element: delete timeline");
    page.reset();
    deleteTrack(PageType::Timeline);
}

void StorageCorrector::trimUnresolvedTimelineEnd() {
    Page page(_storage.superBlock(), _storage.pageCache());
    Page scratch(_storage.superBlock(), _storage.pageCache());
    if (!_utility.loadLastPage(page, PageType::Timeline, true)) {
        return;
    }
    uint32_t limit = _storage.superBlock().pageCount();
    TimelineElement entry;
    for (uint32_t steps = 0; steps <= limit; ++steps) {
        for (uint32_t i = page.itemCount(); i > 0; --i) {
            uint32_t offset = page.firstItemOffset() + (i - 1) * TimelineElement::RecordSize;
            if (offset + TimelineElement::RecordSize > _storage.pageSize()) {
                continue;
            }
            entry.readFrom(page.buffer(), static_cast<int>(offset));
            if (resolves(scratch, entry.mediaID(), entry.mediaType(), entry.mediaPosition().number,
                         entry.mediaPosition().offset)) {
                if (steps > 0 || i < page.itemCount()) {
                    log("timeline end names no element: truncate after %llu",
                        static_cast<unsigned long long>(entry.mediaID()));
                    page.reset();
                    truncateAfter(PageType::Timeline, entry.mediaID());
                }
                return;
            }
        }
        if (!_utility.loadPreviousPage(page)) {
            break;
        }
    }
    log("%s", "no timeline entry names an element: delete timeline");
    page.reset();
    deleteTrack(PageType::Timeline);
}

void StorageCorrector::alignFronts() {
    TimelineElement first;
    if (_utility.firstItem(PageType::Timeline, first)) {
        log("truncate before %llu", static_cast<unsigned long long>(first.mediaID()));
        for (const PageType* type : AlignedTypes) {
            truncateBefore(*type, first.mediaID());
        }
    } else if (!isEmptyTrack(PageType::PreEvent)) {
        log("%s", "delete pre-event track");
        truncateBefore(PageType::PreEvent, NoID);
    }
}

void StorageCorrector::trimTimelineToMedia() {
    // Text-in entries share the timeline and the ID sequence: the timeline ends with the
    // newest element of either kind.
    uint64_t bound = 0;
    bool any = false;
    for (const PageType* type : {&PageType::Media, &PageType::PreEvent, &PageType::TextIn}) {
        uint64_t id = 0;
        if (lastID(*type, id)) {
            bound = std::max(bound, id);
            any = true;
        }
    }
    if (any) {
        truncateAfter(PageType::Timeline, bound);
    }
    trimUnresolvedTimelineEnd();
}

void StorageCorrector::alignEnds() {
    TimelineElement last;
    if (_utility.lastItem(PageType::Timeline, last)) {
        log("truncate after %llu", static_cast<unsigned long long>(last.mediaID()));
        for (const PageType* type : {&PageType::RecordingTable, &PageType::Event, &PageType::PreEvent,
                                     &PageType::TextIn}) {
            truncateAfter(*type, last.mediaID());
        }
    }
}

void StorageCorrector::truncateBefore(const PageType& type, uint64_t before) {
    Page page(_storage.superBlock(), _storage.pageCache());
    if (!_utility.loadFirstPage(page, type, false)) {
        return;
    }
    if (!page.isEmpty() && page.firstItemID() >= before) {
        return;
    }
    TrackListItem item;
    _storage.findTrack(type, item);
    FreePageList freed;
    uint32_t limit = _storage.superBlock().pageCount();
    for (uint32_t steps = 0; page.isEmpty() || page.lastItemID() < before; ++steps) {
        if (page.next() == 0 || page.pageNumber() == item.lastPage() || steps > limit) {
            log("%s: nothing at or after %llu, delete track", textOf(type).c_str(),
                static_cast<unsigned long long>(before));
            page.reset();
            deleteTrack(type);
            return;
        }
        freed.add(page.pageNumber(), page.pageNumber());
        _utility.loadNextPage(page);
    }
    PageElements elements(_storage, type);
    bool kept = elements.keepFrom(page, before);
    if (!kept) {
        log("%s: page %u (IDs %llu..%llu, %u elements) holds no element at or after %llu", textOf(type).c_str(),
            page.pageNumber(), static_cast<unsigned long long>(page.firstItemID()),
            static_cast<unsigned long long>(page.lastItemID()), page.itemCount(),
            static_cast<unsigned long long>(before));
    }
    QF_ASSERT(kept);
    CorrectionTransaction cut(_storage);
    if (freed.intervalCount() > 0) {
        cut.setTrackFirst(page);
        cut.free(freed);
    }
    cut.saveHeader(page);
    cut.commit();
    _storage.updateTrackFirst(type, page.pageNumber(), page.checksum());
}

void StorageCorrector::truncateAfter(const PageType& type, uint64_t after) {
    Page page(_storage.superBlock(), _storage.pageCache());
    if (!_utility.loadLastPage(page, type, false)) {
        return;
    }
    PageElements elements(_storage, type);
    FreePageList freed;
    uint32_t limit = _storage.superBlock().pageCount();
    for (uint32_t steps = 0; page.isEmpty() || page.firstItemID() > after; ++steps) {
        if (page.previous() == 0 || steps > limit) {
            if (page.isEmpty() && page.previous() == 0 && freed.intervalCount() == 0) {
                return;  // already empty
            }
            log("%s: nothing at or before %llu, delete track", textOf(type).c_str(),
                static_cast<unsigned long long>(after));
            page.reset();
            deleteTrack(type);
            return;
        }
        Page earlier(_storage.superBlock(), _storage.pageCache());
        earlier.load(page.pageNumber(), false);
        _utility.loadPreviousPage(earlier);
        if (!earlier.isEmpty() && earlier.lastItemID() <= after && elements.lastOverflows(earlier)) {
            break;  // this page holds the tail of a frame that stays
        }
        freed.add(page.pageNumber(), page.pageNumber());
        page.load(earlier.pageNumber(), false);
    }
    uint32_t count = page.itemCount();
    uint64_t lastID = page.lastItemID();
    if (freed.intervalCount() == 0 && page.next() == 0 && lastID <= after && !elements.lastOverflows(page)) {
        return;
    }
    elements.keepUpTo(page, after);
    log("%s truncate after %llu: page %u keeps %u of %u, last %llu", textOf(type).c_str(),
        static_cast<unsigned long long>(after), page.pageNumber(), page.itemCount(), count,
        static_cast<unsigned long long>(page.lastItemID()));
    QF_ASSERT(page.next() == 0);
    CorrectionTransaction cut(_storage);
    cut.extract(page);
    if (freed.intervalCount() > 0) {
        cut.setTrackLast(page);
        cut.free(freed);
    }
    cut.saveHeader(page);
    cut.commit();
    _storage.updateTrackLast(type, page.pageNumber(), page.checksum());
}
