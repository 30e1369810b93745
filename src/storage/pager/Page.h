#pragma once

#include <cstdint>

#include "base/DirtyMaskingBuffer.h"
#include "base/ISerializable.h"
#include "base/thread/Mutex.h"
#include "storage/pager/IPageInitializer.h"
#include "storage/pager/PageType.h"

class PageCache;
class SuperBlock;

// The in-memory handle of one page of a storage file: a page-sized block from the
// memory pool (shared with readers through the page cache, or a private copy), typed
// access to the 128-byte header, and write-back of only the device blocks that changed.
//
// Every write path puts the header block on disk after the data blocks it describes,
// with a durability barrier between them: after a power cut a header never describes
// data that did not reach the disk. The page cache remembers the data written per page
// of the file, so this holds also when the header goes out through another Page object
// than the data did; after a failed barrier lost a page's data, no header of that page
// is written (IOException) until the whole page has been written again. No write extends
// the file (TarsilException 4).
//
// New content (`init`) starts as zeros: a recycled pool block never carries bytes of the
// page, or storage, that used it before. A page released with changes it has not saved
// is discarded, never shown to later readers.
//
// A Page object belongs to one thread. Its mutex guards the page memory while the
// owning writer changes it and the cache copies it for a reader; take it around changes
// that readers must never see half done, and never hold it while calling into the cache.
class Page {
public:
    static constexpr uint32_t IndexData = 128;
    static constexpr uint32_t InvalidPageChecksum = 0;

    Page(SuperBlock& superBlock, PageCache& cache);
    virtual ~Page();
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;

    virtual uint32_t itemOffset(uint32_t index);
    virtual uint32_t dataEnd();
    // New content for `pageNumber`: a zeroed block, a reset header with a new random
    // checksum. Nothing is written to the file. A page number outside 1..pageCount is
    // refused (TarsilException 4).
    virtual void init(const PageType& type, uint32_t pageNumber, uint32_t itemSize, uint32_t previous,
                      uint32_t previousChecksum, IPageInitializer* initializer = nullptr);
    virtual void reset();
    virtual void load(uint32_t pageNumber, bool readOnly);
    // Reads only the first I/O block; only the header is accessible.
    virtual void loadHeader(uint32_t pageNumber, bool readOnly);
    virtual void loadForWrite(uint32_t pageNumber) { load(pageNumber, false); }
    virtual void loadForRead(uint32_t pageNumber) { load(pageNumber, true); }
    virtual void loadHeaderForWrite(uint32_t pageNumber) { loadHeader(pageNumber, false); }
    // Data blocks, barrier, header block. A failure leaves the changes unsaved, so a
    // second save writes everything again.
    virtual void save();
    // Only the blocks that changed; data first, barrier, header last.
    virtual void syncSaveDirty();
    virtual void saveHeader();
    // Only the changed blocks after the header block; the header block stays changed for
    // the write-back that follows (syncSaveDirty). What goes down here counts for nothing
    // until that header does, so it may precede other writes the header must wait for.
    virtual void saveDataBlocks();
    // Every changed block, the header block with them, without a barrier (a whole page in
    // one write). Only for a page that no track on disk names (still on the stored free
    // list): what it holds means nothing until a later change, ordered behind a barrier,
    // makes it join a track.
    virtual void saveUnordered();
    // Gives the block back (to the cache, or the pool for a header-only page). Unsaved
    // changes are discarded with it.
    void release();
    // Gives the block back and throws its changes away, also those a read-only page was
    // not allowed to save: the next load sees the page as it is on disk. For a change that
    // is abandoned (a rolled-back transaction).
    void discard();
    // The page memory holds changes that are not on disk.
    bool hasUnsavedChanges() const { return _unsaved || !_buffer.isClean(); }

    PageType type();
    void setType(const PageType& type);
    uint32_t previous() { return getInt(0x08); }
    void setPrevious(uint32_t v) { putInt(0x08, v); }
    uint32_t next() { return getInt(0x0C); }
    void setNext(uint32_t v) { putInt(0x0C, v); }
    uint32_t itemSize() { return getInt(0x10); }
    void setItemSize(uint32_t v) { putInt(0x10, v); }
    uint32_t itemCount() { return getInt(0x14); }
    void setItemCount(uint32_t v) { putInt(0x14, v); }
    uint32_t firstItemOffset() { return getInt(0x18); }
    void setFirstItemOffset(uint32_t v) { putInt(0x18, v); }
    uint32_t lastItemOffset() { return getInt(0x1C); }
    void setLastItemOffset(uint32_t v) { putInt(0x1C, v); }
    uint64_t firstItemID() { return _buffer.getLongAt(0x20); }
    void setFirstItemID(uint64_t v) { _buffer.putLongAt(0x20, v); }
    uint64_t lastItemID() { return _buffer.getLongAt(0x28); }
    void setLastItemID(uint64_t v) { _buffer.putLongAt(0x28, v); }
    uint32_t itemFlags() { return getInt(0x30); }
    void setItemFlags(uint32_t v) { putInt(0x30, v); }
    uint32_t checksum() { return getInt(0x3C); }
    void setChecksum(uint32_t v) { putInt(0x3C, v); }
    uint32_t previousChecksum() { return getInt(0x40); }
    void setPreviousChecksum(uint32_t v) { putInt(0x40, v); }
    uint32_t nextChecksum() { return getInt(0x44); }
    void setNextChecksum(uint32_t v) { putInt(0x44, v); }
    uint32_t timeStamp() { return getInt(0x48); }
    void setTimeStamp(uint32_t v) { putInt(0x48, v); }
    uint32_t superChecksum() { return getInt(0x4C); }
    void setSuperChecksum(uint32_t v) { putInt(0x4C, v); }
    uint32_t pageTag() { return getInt(0x50); }

    uint32_t pageNumber() const { return _pageNumber; }
    DirtyMaskingBuffer& buffer() { return _buffer; }
    uint8_t* data() { return _data; }
    bool isLoaded() const { return _data != nullptr; }
    bool isEmpty() { return itemCount() == 0; }
    // Items of itemSize() that fit the data area; 0 when the item size is 0.
    uint32_t capacity();
    bool isReadOnly() const { return _readOnly; }
    bool isCopy() const { return _isCopy; }
    bool isHeaderOnly() const { return _headerOnly; }
    Mutex& mutex() { return _mutex; }
    SuperBlock& superBlock() { return _superBlock; }
    PageCache& cache() { return _cache; }

    void readItem(uint32_t index, ISerializable& item);
    void writeItem(uint32_t index, const ISerializable& item);

protected:
    // Empties the header: no next page, no items, offsets at the data start.
    void resetHeader();
    uint32_t getInt(int offset) { return _buffer.getIntAt(offset); }
    void putInt(int offset, uint32_t v) { _buffer.putIntAt(offset, v); }

private:
    void wrap(bool headerOnly);
    // Returns the write's ticket (0 when nothing was written).
    uint64_t writeRange(uint32_t offset, uint32_t length);
    void writeData(uint32_t offset, uint32_t length, bool wholePage);
    void writeHeaderBlock();
    // Writes the changed blocks after the header block (none for a header-only page);
    // whether the header block changed too.
    bool writeChangedDataBlocks();
    // After a write-back: the changes are on disk, or (read-only) dropped.
    void finishWriteBack();
    uint32_t ioBlockSize() const;

    uint32_t _pageNumber = 0;
    uint8_t* _data = nullptr;
    DirtyMaskingBuffer _buffer;
    SuperBlock& _superBlock;
    PageCache& _cache;
    Mutex _mutex;
    bool _readOnly = false;
    bool _isCopy = false;
    bool _headerOnly = false;
    // Changes were dropped by a read-only write-back: the memory no longer matches the disk.
    bool _unsaved = false;
};
