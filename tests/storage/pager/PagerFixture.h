#pragma once

#include <cstdint>
#include <string>

#include "TempDir.h"
#include "base/File.h"
#include "storage/aio/AIOContext.h"
#include "storage/aio/FaultPlan.h"
#include "storage/aio/StorageDevice.h"
#include "storage/pager/FormatOptions.h"
#include "storage/pager/PageCache.h"
#include "storage/pager/SuperBlock.h"

// A storage file on disk with its two handles, superblock and page cache: what a
// storage object holds, without the tracks.
struct PagerFile {
    std::string path;
    int readHandle = -1;
    int writeHandle = -1;
    SuperBlock superBlock;
    PageCache cache;

    PagerFile(const TempDir& dir, const std::string& name, uint32_t pageSize, uint32_t pageCount)
        : path(dir.file(name)) {
        File::create(path.c_str(), 8192 + uint64_t(pageSize) * pageCount);
        open();
    }
    // Opens an existing file.
    explicit PagerFile(std::string existing) : path(std::move(existing)) { open(); }
    ~PagerFile() { close(); }

    void open() {
        uint64_t size = 0;
        writeHandle = StorageDevice::openHandle(path.c_str(), false, size);
        readHandle = StorageDevice::openHandle(path.c_str(), true, size);
    }
    void format(uint32_t pageSize) {
        superBlock.load(readHandle, writeHandle, 0, StorageDevice::ioMinBlockSize(writeHandle));
        FormatOptions options;
        options.pageSize = pageSize;
        options.description = "fixture";
        uint64_t size = File::size(path.c_str());
        superBlock.format(options, static_cast<uint32_t>((size - 8192) / pageSize), 1);
        cache.bind(superBlock, nullptr);
    }
    void load() {
        superBlock.load(readHandle, writeHandle, 0, StorageDevice::ioMinBlockSize(writeHandle));
        cache.bind(superBlock, nullptr);
    }
    void close() {
        cache.clear();
        superBlock.clear();
        File::close(readHandle);
        File::close(writeHandle);
        readHandle = writeHandle = -1;
    }
};

// Installs a fault plan on the I/O context for one scope.
struct PlanScope {
    FaultPlan plan;
    PlanScope() { plan.install(); }
};

inline std::string readBytes(const std::string& path, uint64_t offset, uint32_t length) {
    File file;
    file.open(path.c_str(), File::Read);
    file.seek(offset);
    std::string bytes(length, '\0');
    file.read(bytes.data(), length);
    return bytes;
}

inline void writeBytes(const std::string& path, uint64_t offset, const std::string& bytes) {
    File file;
    file.open(path.c_str(), File::Read | File::Write);
    file.seek(offset);
    file.write(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// Cuts the file at `size` bytes, as a copy that ran out of room would.
inline void truncateFile(const std::string& path, uint32_t size) {
    File file;
    file.open(path.c_str(), File::Read | File::Write);
    file.truncate(size);
}
