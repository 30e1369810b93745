#include "storage/util/FirstPageCorrector.h"

#include <set>

#include "base/AssertionFailException.h"
#include "base/SystemException.h"
#include "base/TarsilException.h"
#include "base/TextOf.h"
#include "storage/Storage.h"
#include "storage/pager/FreePageList.h"
#include "storage/pager/IFreePageAllocator.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"
#include "storage/util/CorrectionLog.h"
#include "storage/util/CorrectionTransaction.h"
#include "storage/util/DataTracks.h"

FirstPageCorrector::FirstPageCorrector(Storage& storage) : _storage(storage), _utility(storage) {}

void FirstPageCorrector::log(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    correctionLog(_storage, fmt, args);
    va_end(args);
}

void FirstPageCorrector::run() {
    for (const PageType* type : correctedTrackTypes()) {
        if (_storage.hasTrack(*type)) {
            correct(*type);
        }
    }
}

void FirstPageCorrector::correct(const PageType& type) {
    TrackListItem item;
    _storage.findTrack(type, item);
    Page page(_storage.superBlock(), _storage.pageCache());
    bool loaded = false;
    try {
        _utility.loadPage(page, type, item.firstPage(), item.firstPageChecksum(), false);
        loaded = true;
    } catch (const TarsilException&) {
    } catch (const SystemException&) {
    }
    if (loaded && page.previous() == 0 && page.previousChecksum() == Page::InvalidPageChecksum) {
        return;
    }
    if (loaded) {
        // The right page, still linked to one before it (an undone unlink): it is the
        // first page all the same, and the stale link goes.
        log("[%s] %u Prev. Set [Null]", textOf(type).c_str(), page.pageNumber());
        page.setPrevious(0);
        page.setPreviousChecksum(Page::InvalidPageChecksum);
        page.saveHeader();
        return;
    }
    log("%s Type First Recovery", textOf(type).c_str());
    if (moveToSuccessor(type, item.firstPage()) || moveToEarliestReachable(type, item.firstPage())) {
        return;
    }
    log("%s Track delete", textOf(type).c_str());
    CorrectionTransaction deletion(_storage);
    deletion.deleteTrack(type);
    deletion.commit();
    _storage.forgetTrack(type);
}

bool FirstPageCorrector::moveToSuccessor(const PageType& type, uint32_t number) {
    SuperBlock& superBlock = _storage.superBlock();
    if (!superBlock.isPageNumber(number)) {
        return false;
    }
    Page old(superBlock, _storage.pageCache());
    Page next(superBlock, _storage.pageCache());
    try {
        old.load(number, true);
        if (!old.type().equals(type) || old.next() == 0 || !superBlock.isPageNumber(old.next())) {
            return false;
        }
        next.load(old.next(), false);
    } catch (const SystemException&) {
        return false;
    }
    bool unlinked = next.type().equals(type) && next.superChecksum() == superBlock.checksum() &&
                    old.nextChecksum() == next.checksum() && old.lastItemID() < next.firstItemID() &&
                    next.previous() == 0 && next.previousChecksum() == Page::InvalidPageChecksum;
    if (!unlinked) {
        return false;
    }
    log("%u -> %u recover", number, next.pageNumber());
    CorrectionTransaction move(_storage);
    move.setTrackFirst(next);
    FreePageList freed;
    if (_storage.freePageAllocator()->consumable(number)) {
        log("%u already add to Free page list", number);
    } else {
        log("%u add to Free page list", number);
        freed.add(number, number);
        move.free(freed);
    }
    move.commit();
    _storage.updateTrackFirst(type, next.pageNumber(), next.checksum());
    return true;
}

bool FirstPageCorrector::moveToEarliestReachable(const PageType& type, uint32_t oldFirst) {
    Page page(_storage.superBlock(), _storage.pageCache());
    std::set<uint32_t> walked;
    try {
        if (!_utility.loadLastPage(page, type, false)) {
            return false;
        }
    } catch (const TarsilException&) {
        return false;
    } catch (const SystemException&) {
        return false;
    }
    walked.insert(page.pageNumber());
    uint32_t limit = _storage.superBlock().pageCount();
    for (uint32_t steps = 0; steps <= limit && page.previous() != 0; ++steps) {
        Page earlier(_storage.superBlock(), _storage.pageCache());
        try {
            earlier.load(page.pageNumber(), false);
            if (!_utility.loadPreviousPage(earlier) || walked.count(earlier.pageNumber()) > 0 ||
                earlier.superChecksum() != _storage.superBlock().checksum() ||
                (!earlier.isEmpty() && !page.isEmpty() && earlier.lastItemID() >= page.firstItemID())) {
                break;
            }
        } catch (const TarsilException&) {
            break;
        } catch (const SystemException&) {
            break;
        }
        walked.insert(earlier.pageNumber());
        page.load(earlier.pageNumber(), false);
    }
    log("%u -> %u recover", oldFirst, page.pageNumber());
    CorrectionTransaction move(_storage);
    page.setPrevious(0);
    page.setPreviousChecksum(Page::InvalidPageChecksum);
    move.setTrackFirst(page);
    if (_storage.superBlock().isPageNumber(oldFirst) && walked.count(oldFirst) == 0 &&
        !_storage.freePageAllocator()->consumable(oldFirst)) {
        FreePageList freed;
        freed.add(oldFirst, oldFirst);
        move.free(freed);
        log("%u add to Free page list", oldFirst);
    }
    move.saveHeader(page);
    move.commit();
    _storage.updateTrackFirst(type, page.pageNumber(), page.checksum());
    return true;
}
