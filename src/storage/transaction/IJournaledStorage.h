#pragma once

#include <cstdint>

class IFreePageAllocator;
class ITransactionHandler;
class PageCache;
class PageType;
class SuperBlock;

// The storage as its journal records and transaction handler see it: the page
// environment, the free-page allocator, the in-memory track registry that undoing a
// change must correct, and the storage log. The storage implements it; keeping it
// this narrow lets the journal live below the storage object. Used on the storage's
// writing thread only.
class IJournaledStorage {
public:
    virtual ~IJournaledStorage() = default;

    virtual SuperBlock& superBlock() = 0;
    virtual PageCache& pageCache() = 0;
    virtual IFreePageAllocator* freePageAllocator() = 0;
    virtual ITransactionHandler* transactionHandler() = 0;
    virtual bool isReadOnly() const = 0;

    // A free page for a track of `type` (0 when none could be found), taken from the
    // in-memory free list only.
    virtual uint32_t findNextWritablePageNumber(const PageType& type) = 0;

    // The in-memory registry follows what an undone record restored on disk.
    virtual void updateTrackFirst(const PageType& type, uint32_t page, uint32_t checksum) = 0;
    virtual void updateTrackLast(const PageType& type, uint32_t page, uint32_t checksum) = 0;
    virtual void forgetTrack(const PageType& type) = 0;
    // Reloads the registry from the superblock's track list.
    virtual void reloadTrackRegistry() = 0;
    // Commits the joins of pages that were written and wait to join their tracks in a
    // batch (nothing by default).
    virtual void joinPendingPages() {}

    // The storage's persistent log (level 0 errors, 1 warnings, 2 information).
    virtual void log(const char* text, int level, bool flush) = 0;
    // While held, log lines are queued instead of written: the journal is in use and a
    // log write that needed a transaction of its own would overwrite it. Releasing the
    // hold writes the queued lines.
    virtual void holdLog(bool hold) = 0;
};
