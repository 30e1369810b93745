#pragma once

#include <cstdint>

#include "base/BitMask32.h"
#include "base/DateTime.h"
#include "base/DirtyMaskingBuffer.h"
#include "base/UniqueID.h"
#include "base/thread/Mutex.h"
#include "storage/pager/FormatOptions.h"
#include "storage/pager/PageType.h"
#include "storage/pager/RecorderType.h"
#include "storage/pager/TrackListItem.h"

// The first 4096 bytes of a storage file: identity, geometry, byte order, the storage's
// checksum that every page carries, and the track list naming the first and last page
// of every track. The image is always big-endian. Bytes read from the file are checked,
// never trusted: a superblock that fails the checks is not valid and the storage does
// not open. Track-list operations and save are serialised by the superblock's mutex;
// field accessors take no lock (fields change only at format, open and through the
// journal, under the storage's own serialisation of writes).
class SuperBlock {
public:
    SuperBlock();
    ~SuperBlock();
    SuperBlock(const SuperBlock&) = delete;
    SuperBlock& operator=(const SuperBlock&) = delete;

    // Reads the image at `offset` through `readHandle`; writes will go to `writeHandle`.
    // A read error propagates as IOException.
    void load(int readHandle, int writeHandle, uint64_t offset, uint32_t ioBlockSize);
    // Magic, version at most 4, a page size that is a nonzero multiple of 4096, and a
    // track count that fits its list.
    bool isValid() const;
    bool isAbleTo(int ability) const;
    // A fresh image (see FormatOptions); the caller saves it.
    void format(const FormatOptions& options, uint32_t pageCount, uint64_t nextItemID);
    // Writes the whole image when anything changed, then forgets the changes. Makes
    // nothing durable by itself: callers that need it issue a barrier.
    void save();
    // Writes the first I/O block when anything changed; the changes stay recorded.
    void saveHeader();
    // Zeroes the image and forgets the handles (storage close).
    void clear();
    bool isLoaded() const { return _loaded; }

    uint32_t version() const { return _version; }
    void setVersion(uint32_t version);
    const UniqueID& repositoryID() const { return _repositoryID; }
    void setRepositoryID(const UniqueID& id);
    const UniqueID& storageID() const { return _storageID; }
    uint32_t pageSize() const { return _pageSize; }
    uint32_t pageCount() const { return _pageCount; }
    // 1 big-endian, 2 little-endian: the order of page headers and data.
    int byteOrder() const { return _byteOrder; }
    ByteOrder pageByteOrder() const { return _byteOrder == 1 ? ByteOrder::BigEndian : ByteOrder::LittleEndian; }
    uint32_t firstPageOffset() const { return _firstPageOffset; }
    uint32_t freePageNumber() const { return _freePageNumber; }
    const DateTime& formattedTime() const { return _formattedTime; }
    // 32 bytes, always NUL-terminated in memory.
    const char* description() const { return _description; }
    uint64_t nextItemID() const { return _nextItemID; }
    const DateTime& timeStampTime() const { return _timeStampTime; }
    uint32_t timeStampBasis() const { return _timeStampBasis; }
    uint32_t checksum() const { return _checksum; }
    BitMask32 flags() const { return _flags; }
    const RecorderType& recorderType() const { return _recorderType; }
    void setRecorderType(const RecorderType& type);
    uint32_t ioBlockSize() const { return _ioBlockSize; }
    int readHandle() const { return _readHandle; }
    int writeHandle() const { return _writeHandle; }
    uint64_t offset() const { return _offset; }

    void setTimeStamp(const DateTime& utc, uint32_t basis);

    // Offset of page `pageNumber` in the file, in 64 bits.
    uint64_t pageOffset(uint32_t pageNumber) const;
    bool isPageNumber(uint32_t n) const { return n > 0 && n <= _pageCount; }
    bool isItemOffset(uint32_t offset) const { return offset >= 128 && offset < _pageSize; }
    bool isPosition(uint32_t pageNumber, uint32_t offset) const {
        return isPageNumber(pageNumber) && isItemOffset(offset);
    }

    uint32_t trackCount();
    bool trackAt(uint32_t index, TrackListItem& out);
    bool findTrack(const PageType& type, TrackListItem& out);
    bool hasTrack(const PageType& type);
    uint32_t lastPageOf(const PageType& type);
    // Appends; a full list is a corrupted storage (TarsilException 4).
    void addTrack(const TrackListItem& item);
    void registerTrack(const PageType& type, BitMask32 flags, uint32_t page, uint32_t checksum);
    void putTrack(const TrackListItem& item);
    void removeTrack(const PageType& type);
    // Nothing happens for a type without a record; returns whether it had one.
    bool setTrackFirst(const PageType& type, uint32_t page, uint32_t checksum);
    void setTrackLast(const PageType& type, uint32_t page, uint32_t checksum);

    // Debug trace of the fields and of the track list.
    void dump();
    void dumpTracks();

    // The raw image and its change mask (tests and the storage tool).
    const uint8_t* image() const { return _image; }
    bool isDirty() const { return !_buffer.isClean(); }

private:
    void decode();
    void applyLegacyTrackList();
    uint32_t trackCapacity() const;
    int findIndex(const PageType& type);
    void writeTrackAt(int index, const TrackListItem& item);

    uint8_t* _image;
    DirtyMaskingBuffer _buffer;
    Mutex _mutex;
    bool _loaded = false;
    int _readHandle = -1;
    int _writeHandle = -1;
    uint64_t _offset = 0;
    uint32_t _ioBlockSize = 512;

    bool _magicMatches = false;
    uint32_t _version = 0;
    UniqueID _repositoryID;
    UniqueID _storageID;
    uint32_t _pageSize = 0;
    uint32_t _pageCount = 0;
    int _byteOrder = 2;
    uint32_t _firstPageOffset = 0;
    uint32_t _freePageNumber = 0;
    DateTime _formattedTime;
    char _description[33] = {};
    uint64_t _nextItemID = 0;
    DateTime _timeStampTime;
    uint32_t _timeStampBasis = 0;
    uint32_t _checksum = 0;
    BitMask32 _flags;
    RecorderType _recorderType;
};
