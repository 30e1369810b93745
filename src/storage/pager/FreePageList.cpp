#include "storage/pager/FreePageList.h"

#include <algorithm>

#include "storage/pager/FreePageListPage.h"

bool FreePageList::covers(uint32_t first, uint32_t last, const std::vector<uint32_t>& pages) {
    return std::any_of(pages.begin(), pages.end(), [&](uint32_t page) { return first <= page && page <= last; });
}

bool FreePageList::add(uint32_t first, uint32_t last) {
    if (first == 0 || last == 0 || last < first || last > _maxPage || covers(first, last, _reserved)) {
        return false;
    }
    for (const FreePageListItem& item : _intervals) {
        if (item.first() <= last && first <= item.last()) {
            return false;
        }
    }
    bool absorbed = false;
    for (FreePageListItem& item : _intervals) {
        if (item.first() == last + 1) {
            item.setFirst(first);
            absorbed = true;
            break;
        }
        if (item.last() + 1 == first) {
            item.setLast(last);
            absorbed = true;
            break;
        }
    }
    if (!absorbed) {
        _intervals.emplace_back(first, last);
    }
    _freeCount += last - first + 1;
    _dirty = true;
    return true;
}

bool FreePageList::contains(uint32_t page) const {
    return std::any_of(_intervals.begin(), _intervals.end(),
                       [page](const FreePageListItem& item) { return item.contains(page); });
}

bool FreePageList::remove(uint32_t page) {
    for (size_t i = 0; i < _intervals.size(); ++i) {
        FreePageListItem& item = _intervals[i];
        if (!item.contains(page)) {
            continue;
        }
        if (item.first() == item.last()) {
            _intervals.erase(_intervals.begin() + static_cast<long>(i));
        } else if (page == item.first()) {
            item.setFirst(page + 1);
        } else if (page == item.last()) {
            item.setLast(page - 1);
        } else {
            uint32_t last = item.last();
            item.setLast(page - 1);
            _intervals.emplace_back(page + 1, last);
        }
        --_freeCount;
        _dirty = true;
        return true;
    }
    return false;
}

uint32_t FreePageList::takeFirst() {
    if (_intervals.empty()) {
        return 0;
    }
    uint32_t page = _intervals.front().first();
    remove(page);
    return page;
}

void FreePageList::clear() {
    _dirty = !_intervals.empty();
    _intervals.clear();
    _freeCount = 0;
}

bool FreePageList::merge() {
    std::vector<FreePageListItem> pending(_intervals.begin(), _intervals.end());
    std::vector<FreePageListItem> setAside;
    bool absorbedAny = false;
    // Each interval taken from the front is offered to those still waiting behind it.
    for (size_t i = 0; i < pending.size(); ++i) {
        const FreePageListItem& current = pending[i];
        bool absorbed = false;
        for (size_t j = i + 1; j < pending.size(); ++j) {
            FreePageListItem& other = pending[j];
            if (other.first() == current.last() + 1) {
                other.setFirst(current.first());
                absorbed = true;
                break;
            }
            if (other.last() + 1 == current.first()) {
                other.setLast(current.last());
                absorbed = true;
                break;
            }
        }
        if (absorbed) {
            absorbedAny = true;
        } else {
            setAside.push_back(current);
        }
    }
    _intervals = std::move(setAside);
    if (absorbedAny) {
        _dirty = true;
    }
    return absorbedAny;
}

void FreePageList::sort() {
    std::stable_sort(_intervals.begin(), _intervals.end(), [](const FreePageListItem& a, const FreePageListItem& b) {
        if (a.count() != b.count()) {
            return a.count() < b.count();
        }
        return a.first() < b.first();
    });
}

void FreePageList::loadFrom(FreePageListPage& page, uint32_t pageCount) {
    clear();
    // Items naming pages the file does not have are invalid like any other: handing one
    // out would put a track's data beyond the end of the storage.
    _maxPage = pageCount;
    uint32_t count = page.itemCount();
    for (uint32_t i = 0; i < count; ++i) {
        FreePageListItem item;
        page.readItem(i, item);
        add(item.first(), item.last());
    }
    _maxPage = pageCount;
    _dirty = false;
}

void FreePageList::fill(FreePageListPage& page) {
    page.clear();
    for (const FreePageListItem& item : _intervals) {
        if (page.isFull()) {
            break;  // more holes than one list page holds: the rest stay free in memory only
        }
        page.push(item);
    }
}

void FreePageList::saveTo(FreePageListPage& page) {
    fill(page);
    page.syncSaveDirty();
    _dirty = false;
}
