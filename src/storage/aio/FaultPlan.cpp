#include "storage/aio/FaultPlan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "base/SystemException.h"
#include "storage/aio/AIOContext.h"

namespace {

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

// Writes the kept sectors of `bytes`, each run of neighbours in one call.
void writeSectors(int fd, const std::vector<char>& bytes, uint64_t offset, const std::vector<bool>& kept) {
    uint32_t length = static_cast<uint32_t>(bytes.size());
    size_t sector = 0;
    while (sector < kept.size()) {
        if (!kept[sector]) {
            ++sector;
            continue;
        }
        size_t end = sector;
        while (end < kept.size() && kept[end]) {
            ++end;
        }
        uint32_t from = static_cast<uint32_t>(sector) * FaultPlan::SectorSize;
        uint32_t to = std::min(length, static_cast<uint32_t>(end) * FaultPlan::SectorSize);
        AIOContext::systemWrite(fd, bytes.data() + from, offset + from, to - from);
        sector = end;
    }
}

}  // namespace

FaultPlan::~FaultPlan() {
    if (AIOContext::instance().faultPlan() == this) {
        AIOContext::instance().setFaultPlan(nullptr);
    }
}

void FaultPlan::install() {
    AIOContext::instance().setFaultPlan(this);
}

void FaultPlan::aimAt(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        throw SystemException(QF_HERE, errno);
    }
    std::lock_guard<std::mutex> lock(_mutex);
    _aimed = true;
    _target = {info.st_dev, info.st_ino};
}

void FaultPlan::failWrite(uint64_t n, int error) {
    std::lock_guard<std::mutex> lock(_mutex);
    _failWrites[n] = error;
}

void FaultPlan::shortWrite(uint64_t n) {
    std::lock_guard<std::mutex> lock(_mutex);
    _shortWrites.insert(n);
}

void FaultPlan::failRead(uint64_t n, int error) {
    std::lock_guard<std::mutex> lock(_mutex);
    _failReads[n] = error;
}

void FaultPlan::shortRead(uint64_t n) {
    std::lock_guard<std::mutex> lock(_mutex);
    _shortReads.insert(n);
}

void FaultPlan::failBarrier(uint64_t n, int error) {
    std::lock_guard<std::mutex> lock(_mutex);
    _failBarriers[n] = error;
}

void FaultPlan::cutPowerAtWrite(uint64_t n, uint32_t seed) {
    std::lock_guard<std::mutex> lock(_mutex);
    _cutAtWrite = n;
    _seed = seed;
}

void FaultPlan::cutPowerAtBarrier(uint64_t n, uint32_t seed) {
    std::lock_guard<std::mutex> lock(_mutex);
    _cutAtBarrier = n;
    _seed = seed;
}

void FaultPlan::failWritesAfterCut(bool fail) {
    std::lock_guard<std::mutex> lock(_mutex);
    _failAfterCut = fail;
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

bool FaultPlan::isAimedAt(int handle) const {
    if (!_aimed) {
        return true;
    }
    FileKey key;
    return fileKeyOf(handle, key) && key == _target;
}

long FaultPlan::read(int handle, void* buffer, uint64_t offset, uint32_t length) {
    uint32_t transfer = length;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (isAimedAt(handle)) {
            ++_reads;
            auto failure = _failReads.find(_reads);
            if (failure != _failReads.end()) {
                errno = failure->second;
                return -1;
            }
            if (_shortReads.count(_reads) > 0) {
                // Direct I/O moves aligned units: cut at the largest one the request respects.
                uint32_t unit = 4096;
                while (unit > SectorSize && (offset % unit != 0 || length % unit != 0)) {
                    unit /= 2;
                }
                if (length >= 2 * unit) {
                    transfer = length / 2 / unit * unit;
                }
            }
        }
    }
    return AIOContext::systemRead(handle, buffer, offset, transfer);
}

long FaultPlan::write(int handle, const void* buffer, uint64_t offset, uint32_t length) {
    std::lock_guard<std::mutex> lock(_mutex);
    bool counted = isAimedAt(handle);
    if (counted) {
        ++_writes;
        if (!_cut && _writes == _cutAtWrite) {
            cutPower();
        }
    }
    if (_cut) {
        if (_failAfterCut) {
            errno = EIO;
            return -1;
        }
        return length;
    }
    uint32_t transfer = length;
    if (counted) {
        auto failure = _failWrites.find(_writes);
        if (failure != _failWrites.end()) {
            errno = failure->second;
            return -1;
        }
        if (_shortWrites.count(_writes) > 0) {
            transfer = length / 2 / SectorSize * SectorSize;
            if (transfer == 0) {
                return 0;
            }
        }
    }
    remember(handle, buffer, offset, transfer);
    return AIOContext::systemWrite(handle, buffer, offset, transfer);
}

int FaultPlan::barrier(int handle) {
    std::lock_guard<std::mutex> lock(_mutex);
    bool counted = isAimedAt(handle);
    if (counted) {
        ++_barriers;
        if (!_cut && _barriers == _cutAtBarrier) {
            cutPower();
        }
    }
    if (_cut) {
        if (_failAfterCut) {
            errno = EIO;
            return -1;
        }
        return 0;
    }
    if (counted) {
        auto failure = _failBarriers.find(_barriers);
        if (failure != _failBarriers.end()) {
            settleAfterBarrier(handle, false);
            errno = failure->second;
            return -1;
        }
    }
    int result = AIOContext::systemBarrier(handle);
    int error = errno;
    settleAfterBarrier(handle, result == 0);
    errno = error;
    return result;
}

void FaultPlan::remember(int handle, const void* buffer, uint64_t offset, uint32_t length) {
    FileKey key;
    if (length == 0 || !fileKeyOf(handle, key)) {
        return;
    }
    FileWrites& file = _remembered[key];
    if (file.path.empty()) {
        file.path = pathOf(handle);
    }
    RememberedWrite write;
    write.offset = offset;
    write.before.resize(length);
    readPlain(file.path, offset, write.before.data(), length);
    const char* bytes = static_cast<const char*>(buffer);
    write.after.assign(bytes, bytes + length);
    write.fate = Fate::Pending;
    file.writes.push_back(std::move(write));
}

void FaultPlan::settleAfterBarrier(int handle, bool succeeded) {
    FileKey key;
    if (!fileKeyOf(handle, key)) {
        return;
    }
    auto found = _remembered.find(key);
    if (found == _remembered.end()) {
        return;
    }
    std::vector<RememberedWrite>& writes = found->second.writes;
    for (RememberedWrite& write : writes) {
        if (write.fate == Fate::Pending) {
            write.fate = succeeded ? Fate::Durable : Fate::Uncertain;
        }
    }
    // Durable writes before the first uncertain one are part of the file for good; later
    // ones must be replayed over whatever a cut makes of the uncertain ones.
    auto firstUncertain = std::find_if(writes.begin(), writes.end(),
                                       [](const RememberedWrite& write) { return write.fate == Fate::Uncertain; });
    writes.erase(writes.begin(), firstUncertain);
    if (writes.empty()) {
        _remembered.erase(found);
    }
}

std::vector<bool> FaultPlan::chooseSectors(std::mt19937& generator, uint32_t sectors) {
    std::vector<bool> kept(sectors, false);
    switch (generator() % 3) {
        case 0:
            kept.assign(sectors, true);
            break;
        case 1:
            break;
        default:
            if (sectors == 1) {
                kept[0] = generator() % 2 == 0;
                break;
            }
            // Any subset but all or none: the device wrote some sectors, in any order.
            for (;;) {
                size_t count = 0;
                for (uint32_t i = 0; i < sectors; ++i) {
                    kept[i] = generator() % 2 == 0;
                    count += kept[i] ? 1 : 0;
                }
                if (count > 0 && count < sectors) {
                    break;
                }
            }
            break;
    }
    return kept;
}

void FaultPlan::cutPower() {
    _cut = true;
    for (auto& [key, file] : _remembered) {
        // One generator per file, so a file's fate depends only on the seed and its own writes.
        std::mt19937 generator(_seed);
        int fd = ::open(file.path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        // Back to the state before the first remembered write: undo every write, newest first.
        for (auto it = file.writes.rbegin(); it != file.writes.rend(); ++it) {
            AIOContext::systemWrite(fd, it->before.data(), it->offset, static_cast<uint32_t>(it->before.size()));
        }
        // Then what the device happened to keep, in the order it was written.
        for (const RememberedWrite& write : file.writes) {
            uint32_t length = static_cast<uint32_t>(write.after.size());
            uint32_t sectors = (length + SectorSize - 1) / SectorSize;
            std::vector<bool> kept =
                write.fate == Fate::Durable ? std::vector<bool>(sectors, true) : chooseSectors(generator, sectors);
            writeSectors(fd, write.after, write.offset, kept);
            if (write.fate == Fate::Durable) {
                continue;
            }
            Outcome outcome;
            outcome.path = file.path;
            outcome.offset = write.offset;
            outcome.length = length;
            for (uint32_t i = 0; i < sectors; ++i) {
                if (kept[i]) {
                    outcome.keptBytes += std::min(SectorSize, length - i * SectorSize);
                }
            }
            outcome.keptSectors = std::move(kept);
            _outcomes.push_back(std::move(outcome));
        }
        AIOContext::systemBarrier(fd);
        ::close(fd);
    }
    _remembered.clear();
}
