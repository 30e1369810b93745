#pragma once

#include <memory>

#include "storage/pager/FreePageList.h"
#include "storage/pager/FreePageListPage.h"
#include "storage/pager/IFreePageAllocator.h"

// The free-page allocator of a storage on one preallocated file: one "FREE" list page
// and the in-memory interval list. Opening merges and sorts the stored list and writes
// it back; compaction after overwrites merges only when the list has grown past an
// adaptive threshold, so the quadratic merge runs rarely. A list page whose header or
// links do not match the track list is a corrupted storage (TarsilException 4), and so,
// for writing, is a storage whose pages do not fit its file or (version 3 on) that has no
// usable "FREE" track. Stored intervals that cover page 0 or the list page are dropped
// at open, and the list page is never listed.
class FixedSizeFreePageAllocator : public IFreePageAllocator {
public:
    static constexpr uint32_t InitialMergeThreshold = 10;
    // The list page of a formatted storage.
    static constexpr uint32_t ListPage = 1;

    FixedSizeFreePageAllocator() = default;
    ~FixedSizeFreePageAllocator() override = default;

    void init(SuperBlock& superBlock, PageCache& cache, bool writable) override;
    void reset() override;
    void flush() override;
    void format(SuperBlock& superBlock, PageCache& cache) override;
    uint32_t freePageCount() override { return _list.freeCount(); }
    bool consumable(uint32_t page) override { return _list.contains(page); }
    bool isListed(uint32_t page) override;
    void dump() override;
    uint32_t takeFirst() override { return _list.takeFirst(); }
    void extract(uint32_t page) override;
    void appendInterval(uint32_t first, uint32_t last) override;
    void append(uint32_t page) override;
    void restore(uint32_t page) override;
    uint32_t compact() override;

    const FreePageList& list() const { return _list; }
    uint32_t mergeThreshold() const { return _mergeThreshold; }
    FreePageListPage* page() { return _page.get(); }

private:
    void checkListPage(uint32_t lastPageChecksum);
    // Rewrites a full list page from the in-memory list, so that one more item fits.
    void makeRoom();

    std::unique_ptr<FreePageListPage> _page;
    FreePageList _list;
    uint32_t _mergeThreshold = InitialMergeThreshold;
};
