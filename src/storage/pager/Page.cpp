#include "storage/pager/Page.h"

#include <algorithm>
#include <cstring>

#include "base/SystemException.h"
#include "base/TarsilException.h"
#include "base/thread/Random.h"
#include "storage/aio/AIOContext.h"
#include "storage/pager/MemoryPool.h"
#include "storage/pager/PageCache.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TarsilFormat.h"

using namespace TarsilFormat;

Page::Page(SuperBlock& superBlock, PageCache& cache) : _superBlock(superBlock), _cache(cache) {}

Page::~Page() {
    release();
}

uint32_t Page::ioBlockSize() const {
    uint32_t size = _superBlock.ioBlockSize();
    return size < 512 ? 512 : size;
}

uint32_t Page::itemOffset(uint32_t index) {
    return index * itemSize() + firstItemOffset();
}

uint32_t Page::dataEnd() {
    return itemSize() * itemCount() + IndexData;
}

uint32_t Page::capacity() {
    uint32_t size = itemSize();
    uint32_t pageSize = _superBlock.pageSize();
    return size == 0 || pageSize <= IndexData ? 0 : (pageSize - IndexData) / size;
}

PageType Page::type() {
    PageType value;
    value.readFrom(_buffer, PageOffsetType);
    return value;
}

void Page::setType(const PageType& type) {
    type.writeTo(_buffer, PageOffsetType);
}

void Page::wrap(bool headerOnly) {
    uint32_t pageSize = _superBlock.pageSize();
    if (headerOnly) {
        _buffer.wrap(_data, PageHeaderSize, _superBlock.pageByteOrder());
        _buffer.setMaskSize(1);
    } else {
        uint32_t maskBytes = std::max<uint32_t>(1, pageSize / ioBlockSize() / 8);
        _buffer.wrap(_data, static_cast<int>(pageSize), _superBlock.pageByteOrder());
        _buffer.setMaskSize(static_cast<int>(maskBytes));
    }
    _buffer.setPosition(IndexData);
    _headerOnly = headerOnly;
}

void Page::resetHeader() {
    putInt(PageOffsetReserved, 0);
    setNext(0);
    setNextChecksum(InvalidPageChecksum);
    setItemCount(0);
    setFirstItemOffset(IndexData);
    setLastItemOffset(IndexData);
    setItemFlags(0);
    setFirstItemID(0);
    setLastItemID(0);
    putInt(PageOffsetPageTag, 0);
    _buffer.setPosition(IndexData);
}

void Page::init(const PageType& type, uint32_t pageNumber, uint32_t itemSize, uint32_t previous,
                uint32_t previousChecksum, IPageInitializer* initializer) {
    if (!_superBlock.isPageNumber(pageNumber)) {
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
    release();
    uint32_t pageSize = _superBlock.pageSize();
    _data = static_cast<uint8_t*>(MemoryPool::allocate(pageSize));
    // The block was some other page's, possibly of another storage: none of it may reach
    // this page on disk.
    std::memset(_data, 0, pageSize);
    _pageNumber = pageNumber;
    _isCopy = false;
    _readOnly = false;
    _unsaved = false;
    wrap(false);
    resetHeader();
    uint32_t checksum;
    do {
        checksum = Random::instance().next();
    } while (checksum == InvalidPageChecksum);
    setChecksum(checksum);
    setPrevious(previous);
    setPreviousChecksum(previousChecksum);
    setNextChecksum(InvalidPageChecksum);
    setType(type);
    setItemSize(itemSize);
    setSuperChecksum(_superBlock.checksum());
    try {
        if (initializer != nullptr) {
            initializer->initialize(*this);
        }
        _cache.allocate(pageNumber, _data, *this);
    } catch (...) {
        // The block is not the cache's: it would never find its way back to the pool.
        MemoryPool::free(_data);
        _data = nullptr;
        throw;
    }
}

void Page::reset() {
    release();
    _pageNumber = 0;
}

void Page::load(uint32_t pageNumber, bool readOnly) {
    release();
    bool isCopy = false;
    _data = static_cast<uint8_t*>(_cache.fetch(pageNumber, isCopy, readOnly ? nullptr : this));
    _pageNumber = pageNumber;
    _isCopy = isCopy;
    _readOnly = readOnly;
    wrap(false);
    _buffer.clearDirty();
}

void Page::loadHeader(uint32_t pageNumber, bool readOnly) {
    if (!_superBlock.isPageNumber(pageNumber)) {
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
    release();
    uint8_t* block = static_cast<uint8_t*>(MemoryPool::allocate(ioBlockSize()));
    int handle = readOnly ? _superBlock.readHandle() : _superBlock.writeHandle();
    try {
        AIOContext::instance().read(handle, block, _superBlock.pageOffset(pageNumber), ioBlockSize());
    } catch (const SystemException&) {
        MemoryPool::free(block);
        throw;
    }
    _data = block;
    _pageNumber = pageNumber;
    _isCopy = false;
    _readOnly = readOnly;
    wrap(true);
    _buffer.clearDirty();
}

void Page::release() {
    if (_data == nullptr) {
        return;
    }
    if (_headerOnly) {
        MemoryPool::free(_data);
    } else if (hasUnsavedChanges()) {
        _cache.discard(_pageNumber, _data, _isCopy);
    } else {
        _cache.release(_pageNumber, _data, _isCopy);
    }
    _data = nullptr;
    _headerOnly = false;
    _unsaved = false;
}

void Page::discard() {
    if (_data != nullptr) {
        _unsaved = true;
    }
    release();
    _buffer.clearDirty();
}

uint64_t Page::writeRange(uint32_t offset, uint32_t length) {
    if (_readOnly || length == 0) {
        return 0;
    }
    // Direct I/O moves whole device blocks only.
    uint32_t block = ioBlockSize();
    uint32_t end = std::min(_superBlock.pageSize(), (offset + length + block - 1) / block * block);
    offset = offset / block * block;
    uint64_t fileOffset = _superBlock.pageOffset(_pageNumber) + offset;
    _superBlock.requireInsideFile(fileOffset, end - offset);
    return AIOContext::instance().write(_superBlock.writeHandle(), _data + offset, fileOffset, end - offset);
}

void Page::writeData(uint32_t offset, uint32_t length, bool wholePage) {
    _cache.noteDataWrite(_pageNumber, writeRange(offset, length), wholePage);
}

void Page::writeHeaderBlock() {
    if (_readOnly) {
        return;
    }
    _cache.makeDataDurable(_pageNumber);
    writeRange(0, ioBlockSize());
    if (_headerOnly) {
        // Written from memory the cache does not hold: its images of the page are stale.
        _cache.invalidate(_pageNumber);
    }
}

void Page::finishWriteBack() {
    if (_readOnly && !_buffer.isClean()) {
        _unsaved = true;
    }
    _buffer.clearDirty();
}

void Page::save() {
    _cache.beforeWrite(*this, false);
    if (!_headerOnly) {
        uint32_t block = ioBlockSize();
        writeData(block, _superBlock.pageSize() - block, true);
    }
    writeHeaderBlock();
    finishWriteBack();
    _cache.afterWrite(*this, false);
}

void Page::saveHeader() {
    _cache.beforeWrite(*this, true);
    writeHeaderBlock();
    finishWriteBack();
    _cache.afterWrite(*this, true);
}

void Page::syncSaveDirty() {
    if (_buffer.isClean()) {
        return;
    }
    if (_buffer.mask().isAllDirty()) {
        save();
        return;
    }
    _cache.beforeWrite(*this, false);
    if (writeChangedDataBlocks()) {
        // The header may describe the data just written, or data an earlier write-back
        // left without a barrier: it goes last, behind one when needed.
        writeHeaderBlock();
    }
    finishWriteBack();
    _cache.afterWrite(*this, false);
}

bool Page::writeChangedDataBlocks() {
    uint32_t block = ioBlockSize();
    bool headerDirty = false;
    for (const DirtyRange& range : _buffer.dirtyRanges()) {
        uint32_t start = static_cast<uint32_t>(range.offset);
        uint32_t end = start + static_cast<uint32_t>(range.length);
        if (start < block) {
            headerDirty = true;
            start = block;
        }
        if (!_headerOnly && end > start) {
            writeData(start, end - start, false);
        }
    }
    return headerDirty;
}

void Page::saveDataBlocks() {
    if (_readOnly || _headerOnly || _buffer.isClean()) {
        return;
    }
    uint32_t block = ioBlockSize();
    bool headerDirty = true;
    if (_buffer.mask().isAllDirty()) {
        writeData(block, _superBlock.pageSize() - block, true);
    } else {
        headerDirty = writeChangedDataBlocks();
    }
    _buffer.clearDirty();
    if (headerDirty) {
        int length = _buffer.blockLength();
        int last = (static_cast<int>(block) + length - 1) / length - 1;
        _buffer.mask().setRange(0, std::min(last, _buffer.mask().bitCount() - 1));
    }
}

void Page::saveUnordered() {
    if (_readOnly || _headerOnly || _buffer.isClean()) {
        return;
    }
    _cache.beforeWrite(*this, false);
    if (_buffer.mask().isAllDirty()) {
        writeData(0, _superBlock.pageSize(), true);
    } else {
        for (const DirtyRange& range : _buffer.dirtyRanges()) {
            writeData(static_cast<uint32_t>(range.offset), static_cast<uint32_t>(range.length), false);
        }
    }
    finishWriteBack();
    _cache.afterWrite(*this, false);
}

void Page::readItem(uint32_t index, ISerializable& item) {
    uint32_t offset = itemOffset(index);
    if (static_cast<uint64_t>(offset) + static_cast<uint32_t>(item.serializedSize()) > static_cast<uint32_t>(_buffer.capacity())) {
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
    item.readFrom(_buffer, static_cast<int>(offset));
}

void Page::writeItem(uint32_t index, const ISerializable& item) {
    uint32_t offset = itemOffset(index);
    if (static_cast<uint64_t>(offset) + static_cast<uint32_t>(item.serializedSize()) > static_cast<uint32_t>(_buffer.capacity())) {
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
    item.writeTo(_buffer, static_cast<int>(offset));
}
