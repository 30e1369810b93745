#include "storage/BadTrack.h"

#include <algorithm>

#include "base/TarsilException.h"
#include "storage/Storage.h"
#include "storage/TarsilError.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"

void BadTrack::init(Storage* storage, bool write, uint32_t lastPageNumber) {
    _pages.clear();
    Track::init(storage, write, lastPageNumber);
    Page* page = currentPage();
    if (page == nullptr) {
        return;
    }
    uint32_t pageSize = storage->superBlock().pageSize();
    uint32_t offset = page->firstItemOffset();
    for (uint32_t i = 0; i < page->itemCount() && offset + BadElement::RecordSize <= pageSize; ++i) {
        BadElement e;
        e.readFrom(page->buffer(), static_cast<int>(offset));
        _pages.push_back(e.page());
        offset += BadElement::RecordSize;
    }
    if (write && freeBytes() < BadElement::RecordSize) {
        QF_THROW_TARSIL(TarsilError::BadPageFull);
    }
}

void BadTrack::add(uint32_t page) {
    if (contains(page)) {
        return;
    }
    BadElement e;
    e.setPage(page);
    write(e);
    _pages.push_back(page);
}

bool BadTrack::contains(uint32_t page) const {
    return std::find(_pages.begin(), _pages.end(), page) != _pages.end();
}
