#include "storage/aio/AIOContext.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/IOException.h"
#include "storage/aio/FaultPlan.h"

AIOContext& AIOContext::instance() {
    // A function-local static is created once, under the runtime's own guard.
    static AIOContext context;
    return context;
}

long AIOContext::systemRead(int handle, void* buffer, uint64_t offset, uint32_t length) {
    uint32_t done = 0;
    while (done < length) {
        ssize_t count = ::pread(handle, static_cast<char*>(buffer) + done, length - done,
                                static_cast<off_t>(offset + done));
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (count == 0) {
            break;  // end of file
        }
        done += static_cast<uint32_t>(count);
    }
    return done;
}

long AIOContext::systemWrite(int handle, const void* buffer, uint64_t offset, uint32_t length) {
    ssize_t count;
    do {
        count = ::pwrite(handle, buffer, length, static_cast<off_t>(offset));
    } while (count < 0 && errno == EINTR);
    return count;
}

int AIOContext::systemBarrier(int handle) {
    int result;
    do {
        result = ::fdatasync(handle);
    } while (result != 0 && errno == EINTR);
    return result;
}

void AIOContext::read(int handle, void* buffer, uint64_t offset, uint32_t length) {
    AIOControlBlock block;
    block.handle = handle;
    block.operation = AIOControlBlock::Read;
    block.buffer = buffer;
    block.offset = offset;
    block.length = length;
    request(&block, 1);
}

uint64_t AIOContext::write(int handle, const void* buffer, uint64_t offset, uint32_t length) {
    AIOControlBlock block;
    block.handle = handle;
    block.operation = AIOControlBlock::Write;
    block.buffer = const_cast<void*>(buffer);
    block.offset = offset;
    block.length = length;
    return request(&block, 1);
}

uint64_t AIOContext::request(const AIOControlBlock blocks[], int count) {
    uint64_t ticket = 0;
    for (int i = 0; i < count; ++i) {
        const AIOControlBlock& block = blocks[i];
        if (block.operation == AIOControlBlock::Read) {
            readOne(block);
        } else if (block.operation == AIOControlBlock::Write) {
            ticket = writeOne(block);
        } else {
            throw IOException(QF_HERE, EINVAL, block.handle, block.offset, block.length);
        }
    }
    return ticket;
}

void AIOContext::readOne(const AIOControlBlock& block) {
    char* bytes = static_cast<char*>(block.buffer);
    uint32_t done = 0;
    // A transfer cut short is resumed; only the end of the file ends a read early.
    while (done < block.length) {
        FaultPlan* plan = _plan.load();
        uint64_t offset = block.offset + done;
        uint32_t rest = block.length - done;
        long count = plan != nullptr ? plan->read(block.handle, bytes + done, offset, rest)
                                     : systemRead(block.handle, bytes + done, offset, rest);
        if (count < 0) {
            throw IOException(QF_HERE, errno, block.handle, block.offset, block.length);
        }
        if (count == 0) {
            break;
        }
        done += static_cast<uint32_t>(count);
    }
    if (done < block.length) {
        std::memset(bytes + done, 0, block.length - done);
    }
}

uint64_t AIOContext::writeOne(const AIOControlBlock& block) {
    FaultPlan* plan = _plan.load();
    long count = plan != nullptr ? plan->write(block.handle, block.buffer, block.offset, block.length)
                                 : systemWrite(block.handle, block.buffer, block.offset, block.length);
    if (count < 0) {
        throw IOException(QF_HERE, errno, block.handle, block.offset, block.length);
    }
    FileKey key;
    bool known = fileKeyOf(block.handle, key);
    uint64_t ticket;
    {
        std::lock_guard<std::mutex> lock(_stateMutex);
        ticket = ++_lastTicket;
        if (known) {
            _files[key].lastWrite = ticket;
        }
    }
    if (static_cast<uint32_t>(count) < block.length) {
        // A write the device cut short leaves the block half old, half new: the caller
        // must not go on as if it had been written.
        throw IOException(QF_HERE, EIO, block.handle, block.offset, block.length);
    }
    return ticket;
}

void AIOContext::barrier(int handle) {
    FileKey key;
    bool known = fileKeyOf(handle, key);
    uint64_t covered = 0;
    if (known) {
        std::lock_guard<std::mutex> lock(_stateMutex);
        covered = _files[key].lastWrite;
    }
    FaultPlan* plan = _plan.load();
    ++_barrierCount;
    int result = plan != nullptr ? plan->barrier(handle) : systemBarrier(handle);
    int error = errno;
    if (known) {
        std::lock_guard<std::mutex> lock(_stateMutex);
        FileState& state = _files[key];
        if (result == 0) {
            state.settled = std::max(state.settled, covered);
        } else if (state.lastWrite > state.settled) {
            // Whatever was written and not yet durable, up to this moment, has an unknown
            // fate from now on.
            state.lost.emplace_back(state.settled + 1, state.lastWrite);
            state.settled = state.lastWrite;
        }
    }
    if (result != 0) {
        throw IOException(QF_HERE, error, handle, 0, 0);
    }
}

bool AIOContext::barrierIfPending(int handle) {
    if (!hasPendingWrites(handle)) {
        return false;
    }
    barrier(handle);
    return true;
}

bool AIOContext::inLostRange(const FileState& state, uint64_t ticket) {
    return std::any_of(state.lost.begin(), state.lost.end(),
                       [ticket](const auto& range) { return range.first <= ticket && ticket <= range.second; });
}

bool AIOContext::isDurable(int handle, uint64_t ticket) {
    if (ticket == 0) {
        return true;
    }
    FileKey key;
    if (!fileKeyOf(handle, key)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(_stateMutex);
    auto found = _files.find(key);
    return found != _files.end() && ticket <= found->second.settled && !inLostRange(found->second, ticket);
}

bool AIOContext::isLost(int handle, uint64_t ticket) {
    FileKey key;
    if (ticket == 0 || !fileKeyOf(handle, key)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(_stateMutex);
    auto found = _files.find(key);
    return found != _files.end() && inLostRange(found->second, ticket);
}

bool AIOContext::hasPendingWrites(int handle) {
    FileKey key;
    if (!fileKeyOf(handle, key)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(_stateMutex);
    auto found = _files.find(key);
    return found != _files.end() && found->second.lastWrite > found->second.settled;
}

uint64_t AIOContext::lastWriteTicket(int handle) {
    FileKey key;
    if (!fileKeyOf(handle, key)) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(_stateMutex);
    auto found = _files.find(key);
    return found != _files.end() ? found->second.lastWrite : 0;
}

void AIOContext::setFaultPlan(FaultPlan* plan) {
    _plan.store(plan);
}
