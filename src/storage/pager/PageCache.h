#pragma once

#include <cstdint>
#include <deque>
#include <functional>
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
//   (loaded it for writing or gave it new content), or after their image stopped
//   matching the disk. They stay valid until the last holder lets go, and are then
//   returned to the pool; nobody new is handed one.
// - recent: the last five released pages, kept for quick reuse.
// A reader that asks for a page a writer holds gets a private copy of the writer's
// memory, taken under the writer page's mutex, so it sees a whole page image and the
// writer never waits for readers. All blocks come from and go back to the memory pool.
//
// Images handed out again (recent blocks, a shared readers' block) are always the page
// as it is on disk: a block released with unsaved changes is discarded, never kept, and
// a write that bypasses the cached block (a header-only page) drops the cached images.
// So every load, a writer's included, starts from the page as saved: a cached image when
// there is one, else a read of the file. Page numbers outside 1..pageCount are refused
// (TarsilException 4): they come from damaged links.
//
// The cache also remembers, per page, the last data write not yet known durable, so
// that a header written through any Page object is ordered behind the data it describes.
//
// Thread-safe: one mutex guards the maps. Lock order: the cache mutex, then a page's
// mutex (only while copying), then the memory pool's and the I/O context's. Device reads
// for a miss and barriers run without the cache mutex.
class PageCache {
public:
    static constexpr size_t RecentCapacity = 5;

    PageCache() = default;
    // Precondition: no Page holds a block of this cache any more.
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
    // The holder is done with an image that matches the disk.
    void release(uint32_t pageNumber, void* block, bool isCopy);
    // The holder is done with an image that does not match the disk (unsaved or
    // abandoned changes): it is never handed out again, and goes back to the pool when
    // nobody else holds it.
    void discard(uint32_t pageNumber, void* block, bool isCopy);
    // The page was written from memory the cache does not hold: cached images that no
    // writer owns are out of date and are no longer handed out.
    void invalidate(uint32_t pageNumber);
    bool isOverwritten(uint32_t pageNumber);

    // A data write of the page (its ticket from the I/O context); `wholePage` when it
    // covered every data block.
    void noteDataWrite(uint32_t pageNumber, uint64_t ticket, bool wholePage);
    // Called before a header of the page is written: makes the page's data written so far
    // durable (a barrier when some are pending). Throws IOException when a failed barrier
    // lost some of them, until the whole page has been written again: the header would
    // describe data that may not be on disk.
    void makeDataDurable(uint32_t pageNumber);

    void* newBlock(uint32_t size);
    void freeBlock(void* block);

    void beforeWrite(Page& page, bool headerOnly);
    void afterWrite(Page& page, bool headerOnly);

    // Returns every block nobody holds to the pool and forgets the rest, which go back
    // to the pool as their holders release them (storage close).
    void clear();

    // For tests and diagnostics.
    uint32_t referenceCount(uint32_t pageNumber);
    bool isRecent(uint32_t pageNumber);
    std::vector<uint32_t> recentPages();
    // Called while a reader's copy of a writer's page is taken, with the page's mutex
    // held (tests hold the copying thread there).
    void setCopyHook(std::function<void()> hook);

private:
    struct Entry {
        void* block = nullptr;
        int refCount = 0;
        Page* writer = nullptr;
        std::thread::id writerThread;
    };
    struct DataWrite {
        uint64_t ticket = 0;
        bool lost = false;  // some data of the page were lost since its last whole write
    };

    void checkPageNumber(uint32_t pageNumber) const;
    void readPage(uint32_t pageNumber, void* block, bool forWriter);
    void* copyOf(const Entry& entry, void* into);
    void takeOver(uint32_t pageNumber, void* block, Page* writer);
    void* takeRecent(uint32_t pageNumber);
    void keepRecent(uint32_t pageNumber, void* block);
    // Drops one hold on a block that is no longer handed out; false when it is not one.
    bool dropRetired(uint32_t pageNumber, void* block);
    // Drops one hold; a block that no longer matches the disk is retired, never kept.
    void letGo(uint32_t pageNumber, void* block, bool isCopy, bool matchesDisk);
    void forgetDurableDataWrites();

    SuperBlock* _superBlock = nullptr;
    IPageCacheMonitor* _monitor = nullptr;
    std::map<uint32_t, Entry> _active;
    std::multimap<uint32_t, Entry> _overwritten;
    std::map<uint32_t, void*> _recent;
    std::deque<uint32_t> _recentOrder;
    std::map<void*, int> _detached;  // held when the cache was cleared: block -> holders
    std::map<uint32_t, DataWrite> _dataWrites;
    std::function<void()> _copyHook;
    Mutex _mutex;
};
