#include "storage/util/LastPageCorrector.h"

#include <set>

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
#include "storage/util/PageElements.h"

LastPageCorrector::LastPageCorrector(Storage& storage) : _storage(storage), _utility(storage) {}

void LastPageCorrector::log(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    correctionLog(_storage, fmt, args);
    va_end(args);
}

void LastPageCorrector::run() {
    for (const PageType* type : correctedTrackTypes()) {
        if (_storage.hasTrack(*type)) {
            correct(*type);
        }
    }
}

bool LastPageCorrector::isSound(const PageType& type, Page& page) {
    PageElements elements(_storage, type);
    return page.superChecksum() == _storage.superBlock().checksum() && elements.isConsistent(page);
}

void LastPageCorrector::correct(const PageType& type) {
    Page page(_storage.superBlock(), _storage.pageCache());
    try {
        _utility.loadLastPage(page, type, false);
        if (isSound(type, page)) {
            bool linked = page.next() != 0 || page.nextChecksum() != Page::InvalidPageChecksum;
            if (linked && !type.equals(PageType::Media) && !type.equals(PageType::PreEvent)) {
                // A page appended in memory when the power went never joined the track.
                log("[%s] %u page is real last", textOf(type).c_str(), page.pageNumber());
                page.setNext(0);
                page.setNextChecksum(Page::InvalidPageChecksum);
                page.saveHeader();
            }
            return;
        }
    } catch (const TarsilException& e) {
        log("%s last page: %s", textOf(type).c_str(), messageOf(e));
    } catch (const SystemException& e) {
        log("%s ECC Error: %s", textOf(type).c_str(), messageOf(e));
    }
    findRealLast(type);
}

void LastPageCorrector::findRealLast(const PageType& type) {
    TrackListItem item;
    _storage.findTrack(type, item);
    PageElements elements(_storage, type);
    Page page(_storage.superBlock(), _storage.pageCache());
    _utility.loadFirstPage(page, type, false);  // the first page is sound by now
    std::set<uint32_t> walked{page.pageNumber()};
    uint32_t limit = _storage.superBlock().pageCount();
    uint32_t last = page.pageNumber();
    for (uint32_t steps = 0; steps <= limit && page.next() != 0 && last != item.lastPage(); ++steps) {
        Page later(_storage.superBlock(), _storage.pageCache());
        try {
            later.load(page.pageNumber(), false);
            uint64_t lastID = page.lastItemID();
            if (!_utility.loadNextPage(later) || walked.count(later.pageNumber()) > 0 || !isSound(type, later) ||
                (!later.isEmpty() && !page.isEmpty() && later.firstItemID() <= lastID)) {
                break;
            }
        } catch (const TarsilException&) {
            break;
        } catch (const SystemException& e) {
            log("%s , %u page Error", textOf(type).c_str(), page.next());
            break;
        }
        walked.insert(later.pageNumber());
        last = later.pageNumber();
        page.load(last, false);
    }
    if (!isSound(type, page)) {
        log("%s Track delete", textOf(type).c_str());
        CorrectionTransaction deletion(_storage);
        deletion.deleteTrack(type);
        deletion.commit();
        _storage.forgetTrack(type);
        return;
    }
    log("%s Type recover", textOf(type).c_str());
    log("%u -> %u recover", item.lastPage(), page.pageNumber());
    elements.keepUpTo(page, ~uint64_t(0));
    CorrectionTransaction move(_storage);
    move.extract(page);
    move.setTrackLast(page);
    uint32_t old = item.lastPage();
    if (old == 0) {
        log("NULL PAGE NOT ADD TO FREE PAGE");
    } else if (_storage.superBlock().isPageNumber(old) && walked.count(old) == 0) {
        if (_storage.freePageAllocator()->consumable(old)) {
            log("%u page already add to Free page list", old);
        } else {
            FreePageList freed;
            freed.add(old, old);
            move.free(freed);
            log("%u page add to Free page list", old);
        }
    }
    move.saveHeader(page);
    move.commit();
    _storage.updateTrackLast(type, page.pageNumber(), page.checksum());
}
