#include "storage/pager/PageCache.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "base/SystemException.h"
#include "base/Trace.h"
#include "storage/aio/AIOContext.h"
#include "storage/pager/MemoryPool.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"

PageCache::~PageCache() {
    clear();
}

void PageCache::bind(SuperBlock& superBlock, IPageCacheMonitor* monitor) {
    std::lock_guard<Mutex> lock(_mutex);
    _superBlock = &superBlock;
    _monitor = monitor;
}

void* PageCache::newBlock(uint32_t size) {
    return MemoryPool::allocate(size);
}

void PageCache::freeBlock(void* block) {
    MemoryPool::free(block);
}

void PageCache::readPage(uint32_t pageNumber, void* block, bool forWriter) {
    int handle = forWriter ? _superBlock->writeHandle() : _superBlock->readHandle();
    AIOContext::instance().read(handle, block, _superBlock->pageOffset(pageNumber), _superBlock->pageSize());
}

void* PageCache::copyOf(const Entry& entry, void* into) {
    std::lock_guard<Mutex> pageLock(entry.writer->mutex());
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
    if (void* old = takeRecent(pageNumber)) {
        MemoryPool::free(old);
    }
    takeOver(pageNumber, block, &writer);
}

void* PageCache::fetch(uint32_t pageNumber, bool& isCopy, Page* writer) {
    isCopy = false;
    std::unique_lock<Mutex> lock(_mutex);
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

void PageCache::release(uint32_t pageNumber, void* block, bool isCopy) {
    if (isCopy) {
        MemoryPool::free(block);
        return;
    }
    std::lock_guard<Mutex> lock(_mutex);
    auto range = _overwritten.equal_range(pageNumber);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second.block == block) {
            if (--it->second.refCount <= 0) {
                _overwritten.erase(it);
                MemoryPool::free(block);
                QF_TRACE("PageCache::release() OVERWRITE CACHED page #%u released", pageNumber);
            }
            return;
        }
    }
    auto found = _active.find(pageNumber);
    if (found == _active.end() || found->second.block != block) {
        // Not a block of this cache (any more): the cache was cleared under the holder.
        return;
    }
    if (--found->second.refCount <= 0) {
        _active.erase(found);
        keepRecent(pageNumber, block);
    }
}

bool PageCache::isOverwritten(uint32_t pageNumber) {
    std::lock_guard<Mutex> lock(_mutex);
    return _overwritten.count(pageNumber) > 0;
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
    for (auto& [page, entry] : _active) {
        MemoryPool::free(entry.block);
    }
    for (auto& [page, entry] : _overwritten) {
        MemoryPool::free(entry.block);
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
