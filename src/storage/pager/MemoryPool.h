#pragma once

#include <cstdint>

// The process-wide pool of page memory. Blocks are 4096-aligned (fit for direct I/O),
// at least MinimumBlockSize bytes, and never smaller than what was asked for: a block
// goes back to the free list of its own size and is handed out again only for requests
// it covers (the smallest free block that does). Blocks are recycled, not returned to the system, while the process runs.
// Thread-safe; the pool's mutex is always the last lock taken.
class MemoryPool {
public:
    static constexpr uint32_t MinimumBlockSize = 524288;
    static constexpr uint32_t Alignment = 4096;

    // A block of at least `size` bytes. Throws SystemException when memory runs out.
    static void* allocate(uint32_t size);
    // Gives a block back; null is ignored.
    static void free(void* block);
    // The usable size of a block handed out by allocate.
    static uint32_t blockSize(const void* block);

    // Blocks ever created, and blocks now waiting on the free lists. While nothing is in
    // use the two are equal.
    static uint32_t createdCount();
    static uint32_t freeCount();
};
