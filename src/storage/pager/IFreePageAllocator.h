#pragma once

#include <cstdint>

class PageCache;
class SuperBlock;

// Where a storage's new pages come from and where freed pages go. Used only under the
// storage's serialisation of writes. The in-memory list leads; the on-disk list follows
// through the journaled free-page records (extract, append, appendInterval + flush).
class IFreePageAllocator {
public:
    virtual ~IFreePageAllocator() = default;
    // Binds to the storage's superblock and cache; a writable storage loads its list.
    // Refuses, for writing, a storage it could not allocate from safely
    // (TarsilException 4).
    virtual void init(SuperBlock& superBlock, PageCache& cache, bool writable) = 0;
    virtual void reset() = 0;
    virtual void flush() = 0;
    // Makes page 1 the list page with every other page free, writes it, and registers
    // its track in the superblock, whose (ordered) save then puts the track list behind it.
    virtual void format(SuperBlock& superBlock, PageCache& cache) = 0;
    virtual uint32_t freePageCount() = 0;
    // The page is in the in-memory list.
    virtual bool consumable(uint32_t page) = 0;
    // The page is in an item of the on-disk list page.
    virtual bool isListed(uint32_t page) = 0;
    virtual void dump() = 0;
    // A free page, taken from the in-memory list only; 0 when none is free.
    virtual uint32_t takeFirst() = 0;
    virtual void extract(uint32_t page) = 0;
    virtual void appendInterval(uint32_t first, uint32_t last) = 0;
    virtual void append(uint32_t page) = 0;
    // A page taken from the in-memory list but never extracted from the on-disk list (it
    // was freed again before it joined a track) goes back to the in-memory list only.
    virtual void restore(uint32_t page) = 0;
    virtual uint32_t compact() = 0;
};
