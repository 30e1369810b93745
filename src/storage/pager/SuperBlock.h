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
// not open; one whose pages do not all fit the file (a truncated storage) is valid for
// reading only (`fitsFile`). No write through the superblock or its pages ever extends
// the file. Track-list operations and save are serialised by the superblock's mutex;
// field accessors take no lock (fields change only at format, open and through the
// journal, under the storage's own serialisation of writes).
class SuperBlock {
public:
    SuperBlock();
    ~SuperBlock();
    SuperBlock(const SuperBlock&) = delete;
    SuperBlock& operator=(const SuperBlock&) = delete;

    // Reads the image at `offset` through `readHandle` and notes the file's size; writes
    // will go to `writeHandle`. A read error propagates as IOException.
    void load(int readHandle, int writeHandle, uint64_t offset, uint32_t ioBlockSize);
    // Magic, version at most 4, a page size that is a nonzero multiple of 4096 no larger
    // than MaxPageSize and no larger than the file can hold, a first page after the
    // superblock, and a track count that fits its list.
    bool isValid() const;
    // Every page the superblock declares lies inside the file. A storage that fails this
    // must not be opened for writing.
    bool fitsFile() const;
    bool isAbleTo(int ability) const;
    // A fresh image (see FormatOptions); requires `load` first (the file's size and I/O
    // block size), and the caller saves it. Refused, with the image unchanged: a page size
    // that is not a multiple of 4096 and of the I/O block, is below MinIOBlocksPerPage I/O
    // blocks or above MaxPageSize (TarsilException 3); no page, or more pages than the
    // file holds (TarsilException 1).
    void format(const FormatOptions& options, uint32_t pageCount, uint64_t nextItemID);
    // Writes the whole image when anything changed, then forgets the changes. Ordered
    // behind every earlier write of the file (a barrier first when any is pending), since
    // the superblock names pages that must be on disk before it. Makes nothing durable
    // by itself: callers that need the superblock durable issue a barrier after it.
    void save();
    // As save, without the ordering barrier: only for changes that a durable journal
    // record can undo, where the journal already orders them.
    void saveJournaled();
    // Writes the first I/O block when anything changed; the changes stay recorded. When
    // the I/O block reaches the track list it is ordered as save is.
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
    // The file's size when the superblock was loaded.
    uint64_t fileSize() const { return _fileSize; }
    // Throws TarsilException 4 when [offset, offset + length) does not lie inside the file:
    // a write there would extend a fixed-size storage.
    void requireInsideFile(uint64_t offset, uint64_t length) const;

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
    void checkFormat(const FormatOptions& options, uint32_t pageCount) const;
    void saveImage(bool ordered);
    // Writes the first `length` bytes of the image; the mutex is held.
    void writeImage(uint32_t length);
    uint32_t trackCapacity() const;
    int findIndex(const PageType& type);
    void writeTrackAt(int index, const TrackListItem& item);

    uint8_t* _image;
    DirtyMaskingBuffer _buffer;
    // Guards the image: the writer changes the track list while readers ask isValid.
    mutable Mutex _mutex;
    bool _loaded = false;
    int _readHandle = -1;
    int _writeHandle = -1;
    uint64_t _offset = 0;
    uint64_t _fileSize = 0;
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
