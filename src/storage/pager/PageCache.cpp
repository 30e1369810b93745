#include "storage/pager/PageCache.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "base/IOException.h"
#include "base/TarsilException.h"
#include "base/Trace.h"
#include "storage/aio/AIOContext.h"
#include "storage/pager/MemoryPool.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"

namespace {

// Data-write records kept before the durable ones are swept out.
constexpr size_t DataWriteSweepSize = 64;

}  // namespace

PageCache::~PageCache() {
    std::lock_guard<Mutex> lock(_mutex);
    for (auto& [page, entry] : _active) {
        MemoryPool::free(entry.block);
    }
    for (auto& [page, entry] : _overwritten) {
        MemoryPool::free(entry.block);
    }
    for (auto& [page, block] : _recent) {
        MemoryPool::free(block);
    }
    for (auto& [block, holders] : _detached) {
        MemoryPool::free(block);
    }
}

void PageCache::bind(SuperBlock& superBlock, IPageCacheMonitor* monitor) {
    std::lock_guard<Mutex> lock(_mutex);
    _superBlock = &superBlock;
    _monitor = monitor;
    _dataWrites.clear();
}

void* PageCache::newBlock(uint32_t size) {
    return MemoryPool::allocate(size);
}

void PageCache::freeBlock(void* block) {
    MemoryPool::free(block);
}

void PageCache::checkPageNumber(uint32_t pageNumber) const {
    if (_superBlock == nullptr || !_superBlock->isPageNumber(pageNumber)) {
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
}

void PageCache::readPage(uint32_t pageNumber, void* block, bool forWriter) {
    int handle = forWriter ? _superBlock->writeHandle() : _superBlock->readHandle();
    AIOContext::instance().read(handle, block, _superBlock->pageOffset(pageNumber), _superBlock->pageSize());
}

void* PageCache::copyOf(const Entry& entry, void* into) {
    std::lock_guard<Mutex> pageLock(entry.writer->mutex());
    if (_copyHook) {
        _copyHook();
    }
    std::memcpy(into, entry.block, _superBlock->pageSize());
    return into;
}

void PageCache::takeOver(uint32_t pageNumber, void* block, Page* writer) {
    auto found = _active.find(pageNumber);
    if (found != _active.end()) {
        // Readers keep the old block until they let go of it.
        _overwritten.emplace(pageNumber, found->second);
        _active.erase(found);
        QF_TRACE("PageCache::allocate() OVERWRITE #%u", pageNumber);
    }
    Entry entry;
    entry.block = block;
    entry.refCount = 1;
    entry.writer = writer;
    if (writer != nullptr) {
        entry.writerThread = std::this_thread::get_id();
    }
    _active[pageNumber] = entry;
}

void* PageCache::takeRecent(uint32_t pageNumber) {
    auto found = _recent.find(pageNumber);
    if (found == _recent.end()) {
        return nullptr;
    }
    void* block = found->second;
    _recent.erase(found);
    _recentOrder.erase(std::find(_recentOrder.begin(), _recentOrder.end(), pageNumber));
    return block;
}

void PageCache::keepRecent(uint32_t pageNumber, void* block) {
    if (void* stale = takeRecent(pageNumber)) {
        MemoryPool::free(stale);
    }
    while (_recentOrder.size() >= RecentCapacity) {
        uint32_t oldest = _recentOrder.front();
        MemoryPool::free(takeRecent(oldest));
    }
    _recent[pageNumber] = block;
    _recentOrder.push_back(pageNumber);
}

void PageCache::allocate(uint32_t pageNumber, void* block, Page& writer) {
    std::lock_guard<Mutex> lock(_mutex);
    checkPageNumber(pageNumber);
    if (void* old = takeRecent(pageNumber)) {
        MemoryPool::free(old);
    }
    takeOver(pageNumber, block, &writer);
}

void* PageCache::fetch(uint32_t pageNumber, bool& isCopy, Page* writer) {
    isCopy = false;
    std::unique_lock<Mutex> lock(_mutex);
    checkPageNumber(pageNumber);
    auto found = _active.find(pageNumber);
    if (found != _active.end()) {
        if (writer == nullptr) {
            if (found->second.writer != nullptr) {
                void* copy = MemoryPool::allocate(_superBlock->pageSize());
                isCopy = true;
                return copyOf(found->second, copy);
            }
            ++found->second.refCount;
            return found->second.block;
        }
        // Another holder's block is not this writer's to change: a fresh image of the
        // page as saved.
        void* block = MemoryPool::allocate(_superBlock->pageSize());
        try {
            readPage(pageNumber, block, true);
        } catch (...) {
            MemoryPool::free(block);
            throw;
        }
        takeOver(pageNumber, block, writer);
        return block;
    }
    if (void* recent = takeRecent(pageNumber)) {
        takeOver(pageNumber, recent, writer);
        return recent;
    }

    lock.unlock();
    void* fresh = MemoryPool::allocate(_superBlock->pageSize());
    try {
        readPage(pageNumber, fresh, writer != nullptr);
    } catch (...) {
        MemoryPool::free(fresh);
        throw;
    }
    lock.lock();

    // Another thread may have brought the page in meanwhile.
    found = _active.find(pageNumber);
    if (found != _active.end()) {
        if (writer == nullptr) {
            if (found->second.writer != nullptr) {
                isCopy = true;
                return copyOf(found->second, fresh);
            }
            MemoryPool::free(fresh);
            ++found->second.refCount;
            return found->second.block;
        }
        takeOver(pageNumber, fresh, writer);
        return fresh;
    }
    if (void* recent = takeRecent(pageNumber)) {
        MemoryPool::free(fresh);
        takeOver(pageNumber, recent, writer);
        return recent;
    }
    takeOver(pageNumber, fresh, writer);
    return fresh;
}

bool PageCache::dropRetired(uint32_t pageNumber, void* block) {
    auto range = _overwritten.equal_range(pageNumber);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second.block == block) {
            if (--it->second.refCount <= 0) {
                _overwritten.erase(it);
                MemoryPool::free(block);
                QF_TRACE("PageCache::release() OVERWRITE CACHED page #%u released", pageNumber);
            }
            return true;
        }
    }
    auto detached = _detached.find(block);
    if (detached != _detached.end()) {
        if (--detached->second <= 0) {
            _detached.erase(detached);
            MemoryPool::free(block);
        }
        return true;
    }
    return false;
}

void PageCache::release(uint32_t pageNumber, void* block, bool isCopy) {
    letGo(pageNumber, block, isCopy, true);
}

void PageCache::discard(uint32_t pageNumber, void* block, bool isCopy) {
    letGo(pageNumber, block, isCopy, false);
}

void PageCache::letGo(uint32_t pageNumber, void* block, bool isCopy, bool matchesDisk) {
    if (isCopy) {
        MemoryPool::free(block);
        return;
    }
    std::lock_guard<Mutex> lock(_mutex);
    if (dropRetired(pageNumber, block)) {
        return;
    }
    auto found = _active.find(pageNumber);
    if (found == _active.end() || found->second.block != block) {
        return;  // not a block of this cache
    }
    if (matchesDisk) {
        if (--found->second.refCount <= 0) {
            _active.erase(found);
            keepRecent(pageNumber, block);
        }
        return;
    }
    Entry entry = found->second;
    _active.erase(found);
    if (--entry.refCount <= 0) {
        MemoryPool::free(block);
    } else {
        entry.writer = nullptr;
        _overwritten.emplace(pageNumber, entry);  // its other holders keep what they see
    }
}

void PageCache::invalidate(uint32_t pageNumber) {
    std::lock_guard<Mutex> lock(_mutex);
    if (void* stale = takeRecent(pageNumber)) {
        MemoryPool::free(stale);
    }
    auto found = _active.find(pageNumber);
    if (found != _active.end() && found->second.writer == nullptr) {
        _overwritten.emplace(pageNumber, found->second);
        _active.erase(found);
    }
}

bool PageCache::isOverwritten(uint32_t pageNumber) {
    std::lock_guard<Mutex> lock(_mutex);
    return _overwritten.count(pageNumber) > 0;
}

void PageCache::noteDataWrite(uint32_t pageNumber, uint64_t ticket, bool wholePage) {
    if (ticket == 0) {
        return;
    }
    std::lock_guard<Mutex> lock(_mutex);
    DataWrite& record = _dataWrites[pageNumber];
    // A partial write leaves earlier lost blocks lost; only a whole page replaces them.
    bool earlierLost = !wholePage && (record.lost || AIOContext::instance().isLost(_superBlock->writeHandle(), record.ticket));
    record.ticket = ticket;
    record.lost = earlierLost;
    if (_dataWrites.size() > DataWriteSweepSize) {
        forgetDurableDataWrites();
    }
}

void PageCache::forgetDurableDataWrites() {
    AIOContext& io = AIOContext::instance();
    int handle = _superBlock->writeHandle();
    for (auto it = _dataWrites.begin(); it != _dataWrites.end();) {
        if (!it->second.lost && io.isDurable(handle, it->second.ticket)) {
            it = _dataWrites.erase(it);
        } else {
            ++it;
        }
    }
}

void PageCache::makeDataDurable(uint32_t pageNumber) {
    DataWrite record;
    int handle;
    {
        std::lock_guard<Mutex> lock(_mutex);
        auto found = _dataWrites.find(pageNumber);
        if (found == _dataWrites.end()) {
            return;
        }
        record = found->second;
        handle = _superBlock->writeHandle();
    }
    AIOContext& io = AIOContext::instance();
    if (record.lost || io.isLost(handle, record.ticket)) {
        throw IOException(QF_HERE, EIO, handle, _superBlock->pageOffset(pageNumber), _superBlock->pageSize());
    }
    if (!io.isDurable(handle, record.ticket)) {
        // Guards against a power cut that keeps the header about to be written but not
        // the data it describes.
        io.barrier(handle);
    }
    std::lock_guard<Mutex> lock(_mutex);
    auto found = _dataWrites.find(pageNumber);
    if (found != _dataWrites.end() && found->second.ticket == record.ticket && !found->second.lost) {
        _dataWrites.erase(found);
    }
}

void PageCache::beforeWrite(Page& page, bool headerOnly) {
    if (_monitor != nullptr) {
        _monitor->beforeWrite(page, headerOnly);
    }
}

void PageCache::afterWrite(Page& page, bool headerOnly) {
    if (_monitor != nullptr) {
        _monitor->afterWrite(page, headerOnly);
    }
}

void PageCache::clear() {
    std::lock_guard<Mutex> lock(_mutex);
    // Held blocks stay valid for their holders; freeing them here would hand a reader's
    // memory to the next allocation.
    for (auto& [page, entry] : _active) {
        _detached[entry.block] += entry.refCount;
    }
    for (auto& [page, entry] : _overwritten) {
        _detached[entry.block] += entry.refCount;
    }
    for (auto& [page, block] : _recent) {
        MemoryPool::free(block);
    }
    _active.clear();
    _overwritten.clear();
    _recent.clear();
    _recentOrder.clear();
}

uint32_t PageCache::referenceCount(uint32_t pageNumber) {
    std::lock_guard<Mutex> lock(_mutex);
    auto found = _active.find(pageNumber);
    return found == _active.end() ? 0 : static_cast<uint32_t>(found->second.refCount);
}

bool PageCache::isRecent(uint32_t pageNumber) {
    std::lock_guard<Mutex> lock(_mutex);
    return _recent.count(pageNumber) > 0;
}

std::vector<uint32_t> PageCache::recentPages() {
    std::lock_guard<Mutex> lock(_mutex);
    return {_recentOrder.begin(), _recentOrder.end()};
}

void PageCache::setCopyHook(std::function<void()> hook) {
    std::lock_guard<Mutex> lock(_mutex);
    _copyHook = std::move(hook);
}
