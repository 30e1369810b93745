#pragma once

#include "storage/Storage.h"
#include "storage/pager/FixedSizeFreePageAllocator.h"
#include "storage/transaction/JournalingTransactionHandler.h"

// The storage on one preallocated file: the superblock at offset 0, the free pages in a
// FixedSizeFreePageAllocator, changes journaled by a JournalingTransactionHandler. The
// write descriptor holds a write lock on the file; a file that another writer holds, or
// that may not be written, opens read-only. Threads: as Storage.
class FixedSizeFileStorage : public Storage {
public:
    enum class Tracks { Standard, None };

    // With Tracks::None no data track is installed (tests install their own).
    explicit FixedSizeFileStorage(Tracks tracks = Tracks::Standard);
    ~FixedSizeFileStorage() override = default;

    uint64_t superBlockOffset() override { return 0; }
    uint32_t ioMinBlockSize() override;
    uint64_t fileSize() override { return _fileSize; }
    int overwritePreparerCapacity() override { return 1; }
    std::unique_ptr<IOverwritePreparer> newOverwritePreparer() override;
    IFreePageAllocator* freePageAllocator() override { return &_allocator; }
    ITransactionHandler* transactionHandler() override { return &_handler; }
    JournalingTransactionHandler& journalingHandler() { return _handler; }
    FixedSizeFreePageAllocator& allocator() { return _allocator; }

    // Cuts every track back to `itemID` (recording section `sectionID`); the next item
    // gets itemID + 1.
    void rollbackTo(uint32_t sectionID, uint64_t itemID) override;

protected:
    int openHandle(const char* path, bool readOnly) override;

private:
    uint64_t _fileSize = 0;
    FixedSizeFreePageAllocator _allocator;
    JournalingTransactionHandler _handler;
};
