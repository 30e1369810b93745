#include "storage/pager/SuperBlock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/Clock.h"
#include "base/File.h"
#include "base/SystemException.h"
#include "base/TarsilException.h"
#include "base/TextOf.h"
#include "base/Trace.h"
#include "base/thread/Random.h"
#include "storage/aio/AIOContext.h"
#include "storage/pager/TarsilAbility.h"
#include "storage/pager/TarsilFormat.h"

using namespace TarsilFormat;

namespace {

const char* const Rule = "-----------------------------------------------------------";

}  // namespace

SuperBlock::SuperBlock() : _image(static_cast<uint8_t*>(std::aligned_alloc(4096, SuperBlockSize))) {
    if (_image == nullptr) {
        throw SystemException(QF_HERE, ENOMEM);
    }
    std::memset(_image, 0, SuperBlockSize);
    _buffer.wrap(_image, SuperBlockSize, ByteOrder::BigEndian);
    _buffer.setMaskSize(1);
}

SuperBlock::~SuperBlock() {
    std::free(_image);
}

void SuperBlock::load(int readHandle, int writeHandle, uint64_t offset, uint32_t ioBlockSize) {
    AIOContext::instance().read(readHandle, _image, offset, SuperBlockSize);
    _buffer.clearDirty();
    _fileSize = File::size(readHandle);
    _readHandle = readHandle;
    _writeHandle = writeHandle;
    _offset = offset;
    _ioBlockSize = ioBlockSize;
    _loaded = true;
    _magicMatches = std::memcmp(_image + OffsetMagic, Magic, MagicLength) == 0;
    if (_magicMatches) {
        decode();
        if (!isAbleTo(TarsilAbility::SingleTrackList)) {
            applyLegacyTrackList();
        }
    }
}

void SuperBlock::decode() {
    _version = _buffer.getIntAt(OffsetVersion);
    _repositoryID = UniqueID::fromBytes(_image + OffsetRepositoryID);
    _storageID = UniqueID::fromBytes(_image + OffsetStorageID);
    _pageSize = _buffer.getIntAt(OffsetPageSize);
    _pageCount = _buffer.getIntAt(OffsetPageCount);
    _byteOrder = _buffer.getIntAt(OffsetByteOrder) != 0 ? 2 : 1;
    _firstPageOffset = _buffer.getIntAt(OffsetFirstPageOffset);
    _freePageNumber = _buffer.getIntAt(OffsetFreePageNumber);
    _formattedTime.readFrom(_buffer, OffsetFormattedTime);
    std::memcpy(_description, _image + OffsetDescription, DescriptionSize);
    _description[DescriptionSize - 1] = '\0';
    _description[DescriptionSize] = '\0';
    _nextItemID = _buffer.getLongAt(OffsetNextItemID);
    _timeStampTime.readFrom(_buffer, OffsetTimeStampTime);
    _timeStampBasis = _buffer.getIntAt(OffsetTimeStampBasis);
    _checksum = _buffer.getIntAt(OffsetChecksum);
    _flags = BitMask32(_buffer.getIntAt(OffsetFlags));
    _recorderType.readFrom(_buffer, OffsetRecorderType);
}

void SuperBlock::applyLegacyTrackList() {
    std::lock_guard<Mutex> lock(_mutex);
    uint64_t sequenceA = _buffer.getLongAt(OffsetTrackListSequence);
    uint64_t sequenceB = _buffer.getLongAt(OffsetLegacyTrackListCopy);
    if (sequenceB > sequenceA) {
        std::memcpy(_image + OffsetTrackListSequence, _image + OffsetLegacyTrackListCopy, TrackListCopySize);
    }
}

uint32_t SuperBlock::trackCapacity() const {
    // Versions 1 and 2 keep a second copy of the list at 0x900; later ones may use the
    // rest of the block.
    uint32_t end = _version < 3 ? OffsetLegacyTrackListCopy : SuperBlockSize;
    return (end - OffsetTrackList) / TrackListItemSize;
}

bool SuperBlock::isValid() const {
    if (!_loaded || !_magicMatches) {
        return false;
    }
    if (_version > CurrentVersion || _pageSize == 0 || (_pageSize & 0xFFF) != 0 || _pageSize > MaxPageSize) {
        return false;
    }
    // Page 1 must not overlap the superblock, and the file must hold at least one whole
    // page: a larger page size is damage, whatever the rest of the image says.
    if (_firstPageOffset < SuperBlockSize || _firstPageOffset % 512 != 0 ||
        _offset + _firstPageOffset + _pageSize > _fileSize) {
        return false;
    }
    uint32_t count = 0;
    {
        std::lock_guard<Mutex> lock(_mutex);
        count = const_cast<DirtyMaskingBuffer&>(_buffer).getIntAt(OffsetTrackCount);
    }
    return count <= trackCapacity();
}

bool SuperBlock::fitsFile() const {
    return isValid() && _offset + _firstPageOffset + static_cast<uint64_t>(_pageCount) * _pageSize <= _fileSize;
}

void SuperBlock::requireInsideFile(uint64_t offset, uint64_t length) const {
    if (offset + length > _fileSize) {
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
}

bool SuperBlock::isAbleTo(int ability) const {
    if (!isValid()) {
        return false;
    }
    switch (ability) {
        case TarsilAbility::TimeStamp:
            return _version >= 2;
        case TarsilAbility::Log:
        case 3:
        case 4:
        case TarsilAbility::Journaling:
        case TarsilAbility::SingleTrackList:
            return _version >= 3;
        default:
            return false;
    }
}

void SuperBlock::checkFormat(const FormatOptions& options, uint32_t pageCount) const {
    uint32_t block = _ioBlockSize < 512 ? 512 : _ioBlockSize;
    uint32_t size = options.pageSize;
    if (size == 0 || size % SuperBlockSize != 0 || size % block != 0 || size / block < MinIOBlocksPerPage ||
        size > MaxPageSize) {
        throw TarsilException(QF_HERE, 3, "Invalid storage");
    }
    if (pageCount == 0 || _offset + FirstPageOffset + static_cast<uint64_t>(pageCount) * size > _fileSize) {
        throw TarsilException(QF_HERE, 1, "Not enough space");
    }
}

void SuperBlock::format(const FormatOptions& options, uint32_t pageCount, uint64_t nextItemID) {
    std::lock_guard<Mutex> lock(_mutex);
    checkFormat(options, pageCount);
    _buffer.fillAt(0, 0, SuperBlockSize);
    _buffer.putAt(OffsetMagic, Magic, MagicLength);
    _buffer.putIntAt(OffsetVersion, CurrentVersion);
    _buffer.putAt(OffsetRepositoryID, options.repositoryID.bytes(), UniqueID::SIZE);
    UniqueID storageID;
    _buffer.putAt(OffsetStorageID, storageID.bytes(), UniqueID::SIZE);
    _buffer.putIntAt(OffsetPageSize, options.pageSize);
    _buffer.putIntAt(OffsetPageCount, pageCount);
    _buffer.putIntAt(OffsetByteOrder, HostByteOrder == ByteOrder::LittleEndian ? ByteOrderLittleMark : 0);
    _buffer.putIntAt(OffsetFirstPageOffset, FirstPageOffset);
    Clock::current().now().writeTo(_buffer, OffsetFormattedTime);
    size_t length = options.description.size() < DescriptionSize - 1 ? options.description.size() : DescriptionSize - 1;
    _buffer.putAt(OffsetDescription, options.description.data(), static_cast<int>(length));
    _buffer.putLongAt(OffsetNextItemID, nextItemID);
    Clock::current().nowUtc().writeTo(_buffer, OffsetTimeStampTime);
    _buffer.putIntAt(OffsetTimeStampBasis, 0);
    _buffer.putIntAt(OffsetChecksum, Random::instance().next());
    _buffer.putIntAt(OffsetFlags, options.flags.value());
    options.recorderType.writeTo(_buffer, OffsetRecorderType);
    _loaded = true;
    _magicMatches = true;
    decode();
}

void SuperBlock::writeImage(uint32_t length) {
    requireInsideFile(_offset, length);
    AIOContext::instance().write(_writeHandle, _image, _offset, length);
}

void SuperBlock::save() {
    saveImage(true);
}

void SuperBlock::saveJournaled() {
    saveImage(false);
}

void SuperBlock::saveImage(bool ordered) {
    std::lock_guard<Mutex> lock(_mutex);
    if (_buffer.isClean()) {
        return;
    }
    if (ordered) {
        // Guards against a power cut that keeps this track list but not the pages it names.
        AIOContext::instance().barrierIfPending(_writeHandle);
    }
    writeImage(SuperBlockSize);
    _buffer.clearDirty();
}

void SuperBlock::saveHeader() {
    std::lock_guard<Mutex> lock(_mutex);
    if (_buffer.isClean()) {
        return;
    }
    // The first 512 bytes, widened to one whole I/O block for devices with larger sectors.
    uint32_t length = _ioBlockSize < 512 ? 512 : (_ioBlockSize > SuperBlockSize ? SuperBlockSize : _ioBlockSize);
    if (length > static_cast<uint32_t>(OffsetTrackListSequence)) {
        // This block carries the track list: the same power cut as in save.
        AIOContext::instance().barrierIfPending(_writeHandle);
    }
    writeImage(length);
}

void SuperBlock::clear() {
    if (!_loaded) {
        return;
    }
    std::lock_guard<Mutex> lock(_mutex);
    std::memset(_image, 0, SuperBlockSize);
    _buffer.clearDirty();
    _readHandle = -1;
    _writeHandle = -1;
    _fileSize = 0;
    _loaded = false;
    _magicMatches = false;
    _version = 0;
    _pageSize = 0;
    _pageCount = 0;
    _checksum = 0;
}

void SuperBlock::setVersion(uint32_t version) {
    _buffer.putIntAt(OffsetVersion, version);
    _version = version;
}

void SuperBlock::setRepositoryID(const UniqueID& id) {
    _buffer.putAt(OffsetRepositoryID, id.bytes(), UniqueID::SIZE);
    _repositoryID = id;
}

void SuperBlock::setRecorderType(const RecorderType& type) {
    type.writeTo(_buffer, OffsetRecorderType);
    _recorderType = type;
}

void SuperBlock::setTimeStamp(const DateTime& utc, uint32_t basis) {
    utc.writeTo(_buffer, OffsetTimeStampTime);
    _buffer.putIntAt(OffsetTimeStampBasis, basis);
    _timeStampTime = utc;
    _timeStampBasis = basis;
}

uint64_t SuperBlock::pageOffset(uint32_t pageNumber) const {
    return _offset + _firstPageOffset + static_cast<uint64_t>(pageNumber - 1) * _pageSize;
}

uint32_t SuperBlock::trackCount() {
    std::lock_guard<Mutex> lock(_mutex);
    uint32_t count = _buffer.getIntAt(OffsetTrackCount);
    uint32_t capacity = trackCapacity();
    return count > capacity ? capacity : count;
}

bool SuperBlock::trackAt(uint32_t index, TrackListItem& out) {
    std::lock_guard<Mutex> lock(_mutex);
    if (index >= trackCount()) {
        return false;
    }
    out.readFrom(_buffer, OffsetTrackList + static_cast<int>(index) * TrackListItemSize);
    return true;
}

int SuperBlock::findIndex(const PageType& type) {
    uint32_t count = trackCount();
    for (uint32_t i = 0; i < count; ++i) {
        if (std::memcmp(_image + OffsetTrackList + i * TrackListItemSize, type.bytes(), 4) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void SuperBlock::writeTrackAt(int index, const TrackListItem& item) {
    item.writeTo(_buffer, OffsetTrackList + index * TrackListItemSize);
}

bool SuperBlock::findTrack(const PageType& type, TrackListItem& out) {
    std::lock_guard<Mutex> lock(_mutex);
    int index = findIndex(type);
    if (index < 0) {
        return false;
    }
    out.readFrom(_buffer, OffsetTrackList + index * TrackListItemSize);
    return true;
}

bool SuperBlock::hasTrack(const PageType& type) {
    std::lock_guard<Mutex> lock(_mutex);
    return findIndex(type) >= 0;
}

uint32_t SuperBlock::lastPageOf(const PageType& type) {
    TrackListItem item;
    return findTrack(type, item) ? item.lastPage() : 0;
}

void SuperBlock::addTrack(const TrackListItem& item) {
    std::lock_guard<Mutex> lock(_mutex);
    uint32_t count = trackCount();
    if (count >= trackCapacity()) {
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
    writeTrackAt(static_cast<int>(count), item);
    _buffer.putIntAt(OffsetTrackCount, count + 1);
}

void SuperBlock::registerTrack(const PageType& type, BitMask32 flags, uint32_t page, uint32_t checksum) {
    addTrack(TrackListItem(type, flags, page, checksum));
}

void SuperBlock::putTrack(const TrackListItem& item) {
    std::lock_guard<Mutex> lock(_mutex);
    int index = findIndex(item.type());
    if (index >= 0) {
        writeTrackAt(index, item);
    } else {
        addTrack(item);
    }
}

void SuperBlock::removeTrack(const PageType& type) {
    std::lock_guard<Mutex> lock(_mutex);
    int index = findIndex(type);
    if (index < 0) {
        return;
    }
    uint32_t count = trackCount();
    int from = OffsetTrackList + (index + 1) * TrackListItemSize;
    int tail = static_cast<int>(count - 1 - static_cast<uint32_t>(index)) * TrackListItemSize;
    if (tail > 0) {
        // The put marks the moved records dirty; the source overlaps, so copy it first.
        std::vector<uint8_t> moved(_image + from, _image + from + tail);
        _buffer.putAt(from - TrackListItemSize, moved.data(), tail);
    }
    _buffer.putIntAt(OffsetTrackCount, count - 1);
}

bool SuperBlock::setTrackFirst(const PageType& type, uint32_t page, uint32_t checksum) {
    std::lock_guard<Mutex> lock(_mutex);
    int index = findIndex(type);
    if (index < 0) {
        return false;
    }
    TrackListItem item;
    item.readFrom(_buffer, OffsetTrackList + index * TrackListItemSize);
    item.setFirst(page, checksum);
    writeTrackAt(index, item);
    return true;
}

void SuperBlock::setTrackLast(const PageType& type, uint32_t page, uint32_t checksum) {
    std::lock_guard<Mutex> lock(_mutex);
    int index = findIndex(type);
    if (index < 0) {
        addTrack(TrackListItem(type, BitMask32(0xFFFFFFFF), page, checksum));
        return;
    }
    TrackListItem item;
    item.readFrom(_buffer, OffsetTrackList + index * TrackListItemSize);
    if (item.lastPage() == page && item.lastPageChecksum() == checksum) {
        return;
    }
    item.setLast(page, checksum);
    writeTrackAt(index, item);
}

void SuperBlock::dump() {
    QF_TRACE("[Storage Info]---------------------------------------------");
    QF_TRACE("Record Type      : %s", textOf(_recorderType).c_str());
    QF_TRACE("IO Block Size    : %u", _ioBlockSize);
    QF_TRACE("Version          : %u", _version);
    QF_TRACE("Endian           : %s", _byteOrder == 1 ? "Big Endian" : "Little Endian");
    QF_TRACE("Page Size        : %uK", _pageSize / 1024);
    QF_TRACE("Page Count       : %u", _pageCount);
    QF_TRACE("Repository ID    : %s", textOf(_repositoryID).c_str());
    QF_TRACE("Stroage ID       : %s", textOf(_storageID).c_str());
    QF_TRACE("Formatted Time   : %s", textOf(_formattedTime).c_str());
    QF_TRACE("Description      : %s", _description);
    QF_TRACE("First Page Offset: %u", _firstPageOffset);
    QF_TRACE("Free Page Number : %u", _freePageNumber);
    QF_TRACE("Track Count      : %u", trackCount());
    QF_TRACE("%s", Rule);
}

void SuperBlock::dumpTracks() {
    QF_TRACE("[Track Info]-----------------------------------------------");
    uint32_t count = trackCount();
    if (count == 0) {
        QF_TRACE(" NO TRACK");
    }
    for (uint32_t i = 0; i < count; ++i) {
        TrackListItem item;
        trackAt(i, item);
        QF_TRACE(" [%u] %s %s (%u:%u, %u:%u)", i, textOf(item.type()).c_str(), textOf(item.flags()).c_str(),
                 item.firstPage(), item.firstPageChecksum(), item.lastPage(), item.lastPageChecksum());
    }
    QF_TRACE("%s", Rule);
}
