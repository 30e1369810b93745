#include "storage/aio/FaultPlan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>

#include "storage/aio/AIOContext.h"

namespace {

constexpr uint32_t SectorSize = 512;

std::string pathOf(int handle) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", handle);
    char target[4096];
    ssize_t length = ::readlink(link, target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

// Reads through a buffered descriptor of its own, so that it works whatever the
// alignment rules of the caller's descriptor; bytes past the end read as zeros.
void readPlain(const std::string& path, uint64_t offset, char* out, uint32_t length) {
    std::fill(out, out + length, 0);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    AIOContext::systemRead(fd, out, offset, length);
    ::close(fd);
}

}  // namespace

FaultPlan::~FaultPlan() {
    if (AIOContext::instance().faultPlan() == this) {
        AIOContext::instance().setFaultPlan(nullptr);
    }
}

void FaultPlan::failWrite(uint64_t n, int error) {
    std::lock_guard<std::mutex> lock(_mutex);
    _failWriteAt = n;
    _failWriteError = error;
}

void FaultPlan::failRead(uint64_t n, int error) {
    std::lock_guard<std::mutex> lock(_mutex);
    _failReadAt = n;
    _failReadError = error;
}

void FaultPlan::shortWrite(uint64_t n) {
    std::lock_guard<std::mutex> lock(_mutex);
    _shortWriteAt = n;
}

void FaultPlan::cutPowerAtWrite(uint64_t n, uint32_t seed) {
    std::lock_guard<std::mutex> lock(_mutex);
    _cutAt = n;
    _seed = seed;
}

uint64_t FaultPlan::writeCount() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _writes;
}

uint64_t FaultPlan::readCount() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _reads;
}

uint64_t FaultPlan::barrierCount() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _barriers;
}

bool FaultPlan::powerIsCut() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _cut;
}

std::vector<FaultPlan::Outcome> FaultPlan::outcomes() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _outcomes;
}

long FaultPlan::read(int handle, void* buffer, uint64_t offset, uint32_t length) {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        ++_reads;
        if (_reads == _failReadAt) {
            errno = _failReadError;
            return -1;
        }
    }
    return AIOContext::systemRead(handle, buffer, offset, length);
}

long FaultPlan::write(int handle, const void* buffer, uint64_t offset, uint32_t length) {
    std::lock_guard<std::mutex> lock(_mutex);
    ++_writes;
    if (!_cut && _writes == _cutAt) {
        cutPower();
    }
    if (_cut) {
        if (_failAfterCut) {
            errno = EIO;
            return -1;
        }
        return length;
    }
    if (_writes == _failWriteAt) {
        errno = _failWriteError;
        return -1;
    }
    uint32_t transfer = length;
    if (_writes == _shortWriteAt) {
        transfer = length / 2 / SectorSize * SectorSize;
        if (transfer == 0) {
            return 0;
        }
    }
    if (_cutAt > _writes) {
        remember(handle, buffer, offset, transfer);
    }
    return AIOContext::systemWrite(handle, buffer, offset, transfer);
}

int FaultPlan::barrier(int handle) {
    std::lock_guard<std::mutex> lock(_mutex);
    ++_barriers;
    if (_cut) {
        return 0;
    }
    int result = AIOContext::systemBarrier(handle);
    FileKey key;
    if (result == 0 && keyOf(handle, key)) {
        _pending.erase(key);
    }
    return result;
}

bool FaultPlan::keyOf(int handle, FileKey& key) {
    struct stat info;
    if (::fstat(handle, &info) != 0) {
        return false;
    }
    key = {info.st_dev, info.st_ino};
    return true;
}

void FaultPlan::remember(int handle, const void* buffer, uint64_t offset, uint32_t length) {
    FileKey key;
    if (!keyOf(handle, key)) {
        return;
    }
    PendingFile& file = _pending[key];
    if (file.path.empty()) {
        file.path = pathOf(handle);
    }
    PendingWrite write;
    write.offset = offset;
    write.before.resize(length);
    readPlain(file.path, offset, write.before.data(), length);
    const char* bytes = static_cast<const char*>(buffer);
    write.after.assign(bytes, bytes + length);
    file.writes.push_back(std::move(write));
}

void FaultPlan::cutPower() {
    _cut = true;
    for (auto& [key, file] : _pending) {
        // One generator per file, so a file's fate depends only on the seed and its own writes.
        std::mt19937 generator(_seed);
        int fd = ::open(file.path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        // Back to the state of the last barrier: undo every write, newest first.
        for (auto it = file.writes.rbegin(); it != file.writes.rend(); ++it) {
            AIOContext::systemWrite(fd, it->before.data(), it->offset, static_cast<uint32_t>(it->before.size()));
        }
        // Then what the device happened to keep, in the order it was written.
        for (const PendingWrite& write : file.writes) {
            uint32_t length = static_cast<uint32_t>(write.after.size());
            uint32_t sectors = (length + SectorSize - 1) / SectorSize;
            uint32_t kept = 0;
            switch (generator() % 3) {
                case 0:
                    kept = length;
                    break;
                case 1:
                    kept = 0;
                    break;
                default:
                    kept = sectors > 1 ? (1 + generator() % (sectors - 1)) * SectorSize : 0;
                    break;
            }
            if (kept > 0) {
                AIOContext::systemWrite(fd, write.after.data(), write.offset, kept);
            }
            _outcomes.push_back({file.path, write.offset, length, kept});
        }
        AIOContext::systemBarrier(fd);
        ::close(fd);
    }
    _pending.clear();
}
