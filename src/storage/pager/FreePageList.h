#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "storage/pager/FreePageListItem.h"

class FreePageListPage;

// The in-memory list of free page intervals that allocation takes pages from. Intervals
// never overlap (not even in one end page) and never contain page 0, a page above
// maxPage, or a reserved page (the list's own page, which is never free); anything that
// would break this (including invalid intervals read from disk) is refused. Not
// thread-safe: used under the storage's serialisation of writes.
class FreePageList {
public:
    static constexpr uint32_t NoLimit = 0xFFFFFFFF;

    // Adds first..last, extending the first interval it touches at one end, else
    // appending. Returns false (nothing changed) for an invalid or overlapping interval.
    bool add(uint32_t first, uint32_t last);
    bool contains(uint32_t page) const;
    // Takes one page out; a split leaves [first, page-1] in place and appends the rest.
    bool remove(uint32_t page);
    // The first page of the first interval, removed from the list; 0 when empty.
    uint32_t takeFirst();
    void clear();
    // Joins intervals that touch; returns whether any were joined.
    bool merge();
    // Smallest intervals first (ties by first page), so small holes are used up first.
    void sort();

    // Replaces the list with the page's items; maxPage becomes `pageCount`, and items that
    // are invalid under it (or cover a reserved page, or overlap earlier ones) are dropped.
    void loadFrom(FreePageListPage& page, uint32_t pageCount);
    // Rewrites the page with the list and writes the changed blocks back.
    void saveTo(FreePageListPage& page);
    // Rewrites the page with the list in memory only; the caller writes it back.
    void fill(FreePageListPage& page);

    const std::vector<FreePageListItem>& intervals() const { return _intervals; }
    uint32_t intervalCount() const { return static_cast<uint32_t>(_intervals.size()); }
    uint32_t freeCount() const { return _freeCount; }
    uint32_t maxPage() const { return _maxPage; }
    void setMaxPage(uint32_t maxPage) { _maxPage = maxPage; }
    // Pages that may never be listed, whatever is added later.
    void setReserved(std::vector<uint32_t> pages) { _reserved = std::move(pages); }
    bool isDirty() const { return _dirty; }

private:
    static bool covers(uint32_t first, uint32_t last, const std::vector<uint32_t>& pages);

    std::vector<FreePageListItem> _intervals;
    std::vector<uint32_t> _reserved;
    uint32_t _freeCount = 0;
    uint32_t _maxPage = NoLimit;
    bool _dirty = false;
};
