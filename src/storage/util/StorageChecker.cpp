#include "storage/util/StorageChecker.h"

#include <map>

#include "base/SystemException.h"
#include "base/TarsilException.h"
#include "base/TextOf.h"
#include "storage/MediaElement.h"
#include "storage/RecordingTableElement.h"
#include "storage/Storage.h"
#include "storage/Timeline.h"
#include "storage/TimelineElement.h"
#include "storage/TimelineLinkedElement.h"
#include "storage/pager/FreePageListItem.h"
#include "storage/pager/FreePageListPage.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"
#include "storage/transaction/ITransactionHandler.h"
#include "storage/util/DataTracks.h"
#include "storage/util/PageElements.h"

StorageChecker::StorageChecker(Storage& storage) : _storage(storage), _utility(storage) {}

void StorageChecker::find(const std::string& text, bool blocking) {
    _findings.push_back(Finding{text, blocking});
}

bool StorageChecker::hasBlocking() const {
    for (const Finding& f : _findings) {
        if (f.blocking) {
            return true;
        }
    }
    return false;
}

bool StorageChecker::check() {
    _findings.clear();
    try {
        checkJournal();
        for (const PageType* type : correctedTrackTypes()) {
            if (_storage.hasTrack(*type)) {
                checkTrackEnds(*type);
            }
        }
        if (!hasBlocking()) {
            checkTimelineEnds();
            checkRecordingTableEnds();
            checkMediaIndexed();
        }
    } catch (const TarsilException& e) {
        find(std::string("storage corrupted: ") + messageOf(e));
    } catch (const SystemException& e) {
        find(std::string("read error: ") + messageOf(e));
    }
    return !hasBlocking();
}

bool StorageChecker::checkThoroughly() {
    check();
    if (!hasBlocking()) {
        try {
            checkPageOwnership();
        } catch (const Exception& e) {
            find(std::string("page walk failed: ") + messageOf(e));
        }
    }
    return !hasBlocking();
}

void StorageChecker::checkJournal() {
    // A writer leaves its last page joins in the journal until a later barrier: a change
    // that is complete on disk is no finding.
    if (_storage.transactionHandler()->holdsUnfinishedChange()) {
        find("journal holds an unfinished change");
    }
}

void StorageChecker::checkTrackEnds(const PageType& type) {
    std::string name = textOf(type);
    TrackListItem item;
    _storage.findTrack(type, item);
    Page page(_storage.superBlock(), _storage.pageCache());
    try {
        _utility.loadPage(page, type, item.firstPage(), item.firstPageChecksum(), true);
    } catch (const TarsilException&) {
        find(name + ": first page " + std::to_string(item.firstPage()) + " is not the one the track list names");
        return;
    }
    if (page.previous() != 0 || page.previousChecksum() != Page::InvalidPageChecksum) {
        find(name + ": first page " + std::to_string(page.pageNumber()) + " links to a page before it");
    }
    PageElements elements(_storage, type);
    try {
        _utility.loadPage(page, type, item.lastPage(), item.lastPageChecksum(), true);
    } catch (const TarsilException&) {
        find(name + ": last page " + std::to_string(item.lastPage()) + " is not the one the track list names");
        return;
    }
    if (!elements.isConsistent(page)) {
        find(name + ": last page " + std::to_string(page.pageNumber()) + " does not match its elements");
        return;
    }
    // While a writer records, the file on disk looks like this between its flushes too:
    // readers pass over such an end safely, the writable open cuts it.
    if (page.next() != 0 || page.nextChecksum() != Page::InvalidPageChecksum) {
        find(name + ": last page " + std::to_string(page.pageNumber()) + " links to a page that never joined",
             false);
    }
    if (elements.lastOverflows(page)) {
        find(name + ": last frame on page " + std::to_string(page.pageNumber()) + " continues past the track's end",
             false);
    }
}

void StorageChecker::checkTimelineEntry(const char* which, const PagePosition& position) {
    Page page(_storage.superBlock(), _storage.pageCache());
    page.load(position.number, true);
    TimelineElement entry;
    entry.readFrom(page.buffer(), static_cast<int>(position.offset));
    const PagePosition& target = entry.mediaPosition();
    std::string what = std::string("timeline: ") + which + " entry (ID " + std::to_string(entry.mediaID()) + ")";
    SuperBlock& superBlock = _storage.superBlock();
    if (!superBlock.isPageNumber(target.number)) {
        find(what + " names no page");
        return;
    }
    page.load(target.number, true);
    PageType type = page.type();
    bool text = entry.mediaType() == TimelineLinkedElement::TextIn;
    bool rightType = text ? type.equals(PageType::TextIn) : type.equals(PageType::Media) || type.equals(PageType::PreEvent);
    if (!rightType || page.isEmpty() || target.offset < page.firstItemOffset() || target.offset > page.lastItemOffset()) {
        find(what + " names no element");
        return;
    }
    PageElements elements(_storage, type);
    if (elements.endOf(page, target.offset) == 0 || elements.scratch().mediaID() != entry.mediaID()) {
        find(what + " names an element with another ID");
    }
}

void StorageChecker::checkTimelineEnds() {
    if (!_storage.hasTrack(PageType::Timeline)) {
        return;
    }
    PagePosition first = _utility.firstPosition(PageType::Timeline);
    PagePosition last = _utility.lastPosition(PageType::Timeline);
    if (first.isSet()) {
        checkTimelineEntry("first", first);
    }
    if (last.isSet()) {
        checkTimelineEntry("last", last);
    }
}

void StorageChecker::checkRecordingTableEnds() {
    if (!_storage.hasTrack(PageType::RecordingTable)) {
        return;
    }
    Page page(_storage.superBlock(), _storage.pageCache());
    for (bool first : {true, false}) {
        RecordingTableElement record;
        if (!(first ? _utility.firstItem(PageType::RecordingTable, record)
                    : _utility.lastItem(PageType::RecordingTable, record)) ||
            record.isStop()) {
            continue;
        }
        const PagePosition& position = record.position();
        bool points = _storage.superBlock().isPageNumber(position.number);
        if (points) {
            page.loadHeader(position.number, true);
            points = page.type().equals(PageType::Timeline);
        }
        if (!points) {
            find(std::string("recording table: ") + (first ? "first" : "last") + " record points outside the timeline");
        }
    }
}

void StorageChecker::checkMediaIndexed() {
    MediaElement media;
    if (!_utility.lastItem(PageType::Media, media)) {
        return;
    }
    TimelineElement entry;
    uint64_t indexed = _utility.lastItem(PageType::Timeline, entry) ? entry.mediaID() : 0;
    if (media.mediaID() > indexed) {
        find("media: frames after ID " + std::to_string(indexed) + " are not in the timeline yet", false);
    }
}

void StorageChecker::checkPageOwnership() {
    SuperBlock& superBlock = _storage.superBlock();
    std::map<uint32_t, std::string> owner;
    Page page(superBlock, _storage.pageCache());
    for (const TrackListItem& item : _storage.tracks()) {
        std::string name = textOf(item.type());
        uint32_t number = item.firstPage();
        uint32_t checksum = item.firstPageChecksum();
        for (uint32_t steps = 0;; ++steps) {
            if (steps > superBlock.pageCount() || !superBlock.isPageNumber(number)) {
                find(name + ": chain leaves the file or does not end");
                break;
            }
            page.loadHeader(number, true);
            if (!page.type().equals(item.type()) || page.checksum() != checksum) {
                find(name + ": page " + std::to_string(number) + " does not carry the link to it");
                break;
            }
            auto [at, added] = owner.emplace(number, name);
            if (!added) {
                find("page " + std::to_string(number) + " is in " + at->second + " and " + name);
                break;
            }
            if (number == item.lastPage()) {
                break;
            }
            checksum = page.nextChecksum();
            number = page.next();
        }
    }
    TrackListItem list;
    uint32_t listPage = _storage.findTrack(PageType::FreePageList, list) ? list.lastPage() : superBlock.freePageNumber();
    if (!superBlock.isPageNumber(listPage)) {
        return;
    }
    FreePageListPage free(superBlock, _storage.pageCache());
    free.loadForRead(listPage);
    if (!free.type().equals(PageType::FreePageList) || !free.isConsistent()) {
        find("free list page cannot be read");
        return;
    }
    for (uint32_t i = 0; i < free.itemCount(); ++i) {
        FreePageListItem interval;
        free.readItem(i, interval);
        for (auto it = owner.lower_bound(interval.first()); it != owner.end() && it->first <= interval.last(); ++it) {
            find("page " + std::to_string(it->first) + " is free and in " + it->second);
        }
    }
}
