#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <thread>
#include <vector>

#include "base/thread/Mutex.h"
#include "storage/pager/IPageCacheMonitor.h"

class Page;
class SuperBlock;

// The page memory of one storage, shared between its writer and its readers.
//
// - active: the current block of each page in use. Readers of a page nobody writes share
//   one block (counted); a writer always has a block of its own.
// - overwritten: blocks that readers still hold after a writer took their page over
//   (loaded it for writing or gave it new content). They stay valid until the last
//   reader lets go, and are then returned to the pool.
// - recent: the last five released pages, kept for quick reuse.
// A reader that asks for a page a writer holds gets a private copy of the writer's
// memory, taken under the writer page's mutex, so it sees a whole page image and the
// writer never waits for readers. All blocks come from and go back to the memory pool.
//
// Thread-safe: one mutex guards the maps. Lock order: the cache mutex, then a page's
// mutex (only while copying), then the memory pool's. Device reads for a miss run
// without the cache mutex.
class PageCache {
public:
    static constexpr size_t RecentCapacity = 5;

    PageCache() = default;
    ~PageCache();
    PageCache(const PageCache&) = delete;
    PageCache& operator=(const PageCache&) = delete;

    // Binds the cache to a loaded or formatted superblock (page size, handles, offsets).
    void bind(SuperBlock& superBlock, IPageCacheMonitor* monitor);

    // `writer` gives page `pageNumber` new content in `block` (from the pool).
    void allocate(uint32_t pageNumber, void* block, Page& writer);
    // The block to use for `pageNumber`; `writer` null for a reader. `isCopy` tells the
    // caller the block is private and must be released as such.
    void* fetch(uint32_t pageNumber, bool& isCopy, Page* writer);
    void release(uint32_t pageNumber, void* block, bool isCopy);
    bool isOverwritten(uint32_t pageNumber);

    void* newBlock(uint32_t size);
    void freeBlock(void* block);

    void beforeWrite(Page& page, bool headerOnly);
    void afterWrite(Page& page, bool headerOnly);

    // Returns every block to the pool (storage close).
    void clear();

    // For tests and diagnostics.
    uint32_t referenceCount(uint32_t pageNumber);
    bool isRecent(uint32_t pageNumber);
    std::vector<uint32_t> recentPages();

private:
    struct Entry {
        void* block = nullptr;
        int refCount = 0;
        Page* writer = nullptr;
        std::thread::id writerThread;
    };

    void readPage(uint32_t pageNumber, void* block, bool forWriter);
    void* copyOf(const Entry& entry, void* into);
    void takeOver(uint32_t pageNumber, void* block, Page* writer);
    void* takeRecent(uint32_t pageNumber);
    void keepRecent(uint32_t pageNumber, void* block);

    SuperBlock* _superBlock = nullptr;
    IPageCacheMonitor* _monitor = nullptr;
    std::map<uint32_t, Entry> _active;
    std::multimap<uint32_t, Entry> _overwritten;
    std::map<uint32_t, void*> _recent;
    std::deque<uint32_t> _recentOrder;
    Mutex _mutex;
};
