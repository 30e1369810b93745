#include "storage/pager/MemoryPool.h"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "base/SystemException.h"
#include "base/Trace.h"

namespace {

class Pool {
public:
    ~Pool() {
        for (auto& [block, size] : _sizes) {
            std::free(block);
        }
    }

    void* allocate(uint32_t size) {
        uint32_t blockSize = sizeFor(size);
        std::lock_guard<std::mutex> lock(_mutex);
        // The smallest free block that covers the request.
        for (auto it = _free.lower_bound(blockSize); it != _free.end(); ++it) {
            if (!it->second.empty()) {
                void* block = it->second.back();
                it->second.pop_back();
                --_freeCount;
                return block;
            }
        }
        void* block = std::aligned_alloc(MemoryPool::Alignment, blockSize);
        if (block == nullptr) {
            throw SystemException(QF_HERE, ENOMEM);
        }
        _sizes.emplace(block, blockSize);
        ++_created;
        QF_TRACE("MemoryPool::allocate() create new block #%u, %u/%u KB)", _created, size / 1024, blockSize / 1024);
        return block;
    }

    void free(void* block) {
        if (block == nullptr) {
            return;
        }
        std::lock_guard<std::mutex> lock(_mutex);
        auto found = _sizes.find(block);
        if (found == _sizes.end()) {
            return;  // not ours: never put foreign memory on the lists
        }
        _free[found->second].push_back(block);
        ++_freeCount;
    }

    uint32_t blockSize(const void* block) {
        std::lock_guard<std::mutex> lock(_mutex);
        auto found = _sizes.find(const_cast<void*>(block));
        return found == _sizes.end() ? 0 : found->second;
    }

    uint32_t created() {
        std::lock_guard<std::mutex> lock(_mutex);
        return _created;
    }

    uint32_t freeCount() {
        std::lock_guard<std::mutex> lock(_mutex);
        return _freeCount;
    }

private:
    static uint32_t sizeFor(uint32_t size) {
        if (size <= MemoryPool::MinimumBlockSize) {
            return MemoryPool::MinimumBlockSize;
        }
        return (size + MemoryPool::Alignment - 1) / MemoryPool::Alignment * MemoryPool::Alignment;
    }

    std::mutex _mutex;
    std::map<uint32_t, std::vector<void*>> _free;
    std::unordered_map<void*, uint32_t> _sizes;
    uint32_t _created = 0;
    uint32_t _freeCount = 0;
};

Pool& pool() {
    static Pool instance;
    return instance;
}

}  // namespace

void* MemoryPool::allocate(uint32_t size) {
    return pool().allocate(size);
}

void MemoryPool::free(void* block) {
    pool().free(block);
}

uint32_t MemoryPool::blockSize(const void* block) {
    return pool().blockSize(block);
}

uint32_t MemoryPool::createdCount() {
    return pool().created();
}

uint32_t MemoryPool::freeCount() {
    return pool().freeCount();
}
