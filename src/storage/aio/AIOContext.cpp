#include "storage/aio/AIOContext.h"

#include <unistd.h>

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

void AIOContext::write(int handle, const void* buffer, uint64_t offset, uint32_t length) {
    AIOControlBlock block;
    block.handle = handle;
    block.operation = AIOControlBlock::Write;
    block.buffer = const_cast<void*>(buffer);
    block.offset = offset;
    block.length = length;
    request(&block, 1);
}

void AIOContext::request(const AIOControlBlock blocks[], int count) {
    for (int i = 0; i < count; ++i) {
        const AIOControlBlock& block = blocks[i];
        if (block.operation == AIOControlBlock::Read) {
            readOne(block);
        } else if (block.operation == AIOControlBlock::Write) {
            writeOne(block);
        } else {
            throw IOException(QF_HERE, EINVAL, block.handle, block.offset, block.length);
        }
    }
}

void AIOContext::readOne(const AIOControlBlock& block) {
    FaultPlan* plan = _plan.load();
    long count = plan != nullptr ? plan->read(block.handle, block.buffer, block.offset, block.length)
                                 : systemRead(block.handle, block.buffer, block.offset, block.length);
    if (count < 0) {
        throw IOException(QF_HERE, errno, block.handle, block.offset, block.length);
    }
    if (static_cast<uint32_t>(count) < block.length) {
        std::memset(static_cast<char*>(block.buffer) + count, 0, block.length - static_cast<uint32_t>(count));
    }
}

void AIOContext::writeOne(const AIOControlBlock& block) {
    FaultPlan* plan = _plan.load();
    long count = plan != nullptr ? plan->write(block.handle, block.buffer, block.offset, block.length)
                                 : systemWrite(block.handle, block.buffer, block.offset, block.length);
    if (count < 0) {
        throw IOException(QF_HERE, errno, block.handle, block.offset, block.length);
    }
    if (static_cast<uint32_t>(count) < block.length) {
        // A write the device cut short leaves the block half old, half new: the caller
        // must not go on as if it had been written.
        throw IOException(QF_HERE, EIO, block.handle, block.offset, block.length);
    }
}

void AIOContext::barrier(int handle) {
    FaultPlan* plan = _plan.load();
    int result = plan != nullptr ? plan->barrier(handle) : systemBarrier(handle);
    if (result != 0) {
        throw IOException(QF_HERE, errno, handle, 0, 0);
    }
}

void AIOContext::setFaultPlan(FaultPlan* plan) {
    _plan.store(plan);
}
