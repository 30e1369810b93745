#include "base/File.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "base/SystemException.h"

namespace {

// The directory part of a path ("." when it has none).
std::string parentOf(const char* path) {
    std::string text(path);
    size_t slash = text.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return text.substr(0, slash);
}

bool isDirectory(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int openRetrying(const char* path, int flags, mode_t mode = 0644) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Reserves `size` bytes for a new, empty file. Returns 0 or the error number.
int reserveSpace(int fd, uint64_t size) {
    // Checked first, so that a file that cannot fit never fills the volume on its way to
    // failing (an allocation that runs out part-way keeps what it took until the unlink).
    struct statvfs volume;
    if (::fstatvfs(fd, &volume) == 0 && static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize < size) {
        return ENOSPC;
    }
    int result;
    do {
        result = ::fallocate(fd, 0, 0, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != ENOSYS) {
        return errno;
    }
    // Allocating would mean writing every block: too slow for a storage of gigabytes.
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
}

// The direct-I/O offset alignment the file system reports for the file; 0 when it
// reports none.
uint32_t directIOAlignment(int handle) {
#ifdef STATX_DIOALIGN
    struct statx extended;
    if (::statx(handle, "", AT_EMPTY_PATH, STATX_DIOALIGN, &extended) == 0 &&
        (extended.stx_mask & STATX_DIOALIGN) != 0) {
        return extended.stx_dio_offset_align;
    }
#else
    (void)handle;
#endif
    return 0;
}

uint32_t readNumber(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) {
        return 0;
    }
    unsigned long value = 0;
    if (std::fscanf(file, "%lu", &value) != 1) {
        value = 0;
    }
    std::fclose(file);
    return static_cast<uint32_t>(value);
}

// The smallest power-of-two size from 512 to 4096 that a direct read at offset 0
// accepts; 0 when none does or the descriptor is not direct.
uint32_t probeDirectAlignment(int handle) {
    int flags = ::fcntl(handle, F_GETFL);
    if (flags < 0 || (flags & O_DIRECT) == 0) {
        return 0;
    }
    constexpr uint32_t largest = 4096;
    void* buffer = std::aligned_alloc(largest, largest);
    if (buffer == nullptr) {
        return 0;
    }
    uint32_t found = 0;
    for (uint32_t size = 512; size <= largest && found == 0; size *= 2) {
        ssize_t count;
        do {
            count = ::pread(handle, buffer, size, 0);
        } while (count < 0 && errno == EINTR);
        if (count >= 0) {
            found = size;
        } else if (errno != EINVAL) {
            break;
        }
    }
    std::free(buffer);
    return found;
}

}  // namespace

File::~File() {
    close();
}

File::File(File&& other) noexcept : _handle(std::exchange(other._handle, -1)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        _handle = std::exchange(other._handle, -1);
    }
    return *this;
}

int File::systemFlags(int flags) {
    int result = 0;
    bool read = (flags & Read) != 0;
    bool write = (flags & Write) != 0;
    if (read && write) {
        result = O_RDWR;
    } else if (write) {
        result = O_WRONLY;
    } else {
        result = O_RDONLY;
    }
    if (flags & WriteThrough) {
        result |= O_DSYNC;
    }
    if (flags & CreateNew) {
        result |= O_CREAT | O_EXCL;
    }
    return result;
}

void File::create(const char* path, uint64_t size) {
    int fd = openRetrying(path, O_RDWR | O_CREAT | O_EXCL);
    if (fd < 0) {
        throw SystemException(QF_HERE, errno);
    }
    int error = size > 0 ? reserveSpace(fd, size) : 0;
    if (error != 0) {
        ::close(fd);
        ::unlink(path);
        throw SystemException(QF_HERE, error);
    }
    if (::close(fd) != 0) {
        throw SystemException(QF_HERE, errno);
    }
}

void File::createPreallocated(const char* path, uint64_t size) {
    create(path, size);
}

bool File::exists(const char* path) {
    int fd = openRetrying(path, O_RDONLY);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    int error = errno;
    if (error == ENOENT && isDirectory(parentOf(path))) {
        return false;
    }
    throw SystemException(QF_HERE, error);
}

bool File::remove(const char* path) {
    return ::unlink(path) == 0;
}

bool File::rename(const char* from, const char* to) {
    return ::rename(from, to) == 0;
}

uint64_t File::size(const char* path) {
    struct stat info;
    if (::stat(path, &info) != 0) {
        throw SystemException(QF_HERE, errno);
    }
    return static_cast<uint64_t>(info.st_size);
}

uint64_t File::size(int handle) {
    struct stat info;
    if (::fstat(handle, &info) != 0) {
        throw SystemException(QF_HERE, errno);
    }
    if (S_ISBLK(info.st_mode)) {
        uint64_t bytes = 0;
        if (::ioctl(handle, BLKGETSIZE64, &bytes) != 0) {
            throw SystemException(QF_HERE, errno);
        }
        return bytes;
    }
    return static_cast<uint64_t>(info.st_size);
}

bool File::isReadOnly(const char* path) {
    struct stat info;
    if (::stat(path, &info) != 0) {
        throw SystemException(QF_HERE, errno);
    }
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool File::isPhysicalDrive(const char* path) {
    static const char prefix[] = "\\\\.\\PHYSICALDRIVE";
    if (std::strncmp(path, prefix, sizeof prefix - 1) == 0) {
        return true;
    }
    if (std::strncmp(path, "/dev/", 5) != 0) {
        return false;
    }
    struct stat info;
    return ::stat(path, &info) == 0 && S_ISBLK(info.st_mode);
}

uint64_t File::freeSize(const char* directory) {
    struct statvfs info;
    if (::statvfs(directory, &info) != 0) {
        throw SystemException(QF_HERE, errno);
    }
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

bool File::close(int handle) {
    if (handle == -1) {
        return true;
    }
    // Linux releases the descriptor even when close reports EINTR: never retry.
    return ::close(handle) == 0 || errno == EINTR;
}

uint32_t File::ioBlockSize(int handle) {
    constexpr uint32_t minimum = 512;
    struct stat info;
    if (::fstat(handle, &info) != 0) {
        throw SystemException(QF_HERE, errno);
    }
    uint32_t size = 0;
    if (S_ISBLK(info.st_mode)) {
        int sector = 0;
        if (::ioctl(handle, BLKSSZGET, &sector) != 0) {
            throw SystemException(QF_HERE, errno);
        }
        size = static_cast<uint32_t>(sector);
    } else {
        size = directIOAlignment(handle);
        if (size == 0) {
            // An older kernel or a file system that does not say: a guess of 512 would make
            // every partial direct write fail on a disk with 4096-byte sectors.
            size = deviceBlockSize(handle);
        }
    }
    return size < minimum ? minimum : size;
}

uint32_t File::deviceBlockSize(int handle) {
    struct stat info;
    if (::fstat(handle, &info) != 0) {
        throw SystemException(QF_HERE, errno);
    }
    uint32_t size = logicalBlockSize(major(info.st_dev), minor(info.st_dev));
    return size != 0 ? size : probeDirectAlignment(handle);
}

uint32_t File::logicalBlockSize(unsigned major, unsigned minor, const char* sysfsRoot) {
    std::string device = std::string(sysfsRoot) + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    uint32_t size = readNumber(device + "/queue/logical_block_size");
    if (size == 0) {
        // A partition has no queue of its own; its directory lies inside its disk's.
        size = readNumber(device + "/../queue/logical_block_size");
    }
    return size;
}

void File::open(const char* path, int flags) {
    close();
    int fd = openRetrying(path, systemFlags(flags));
    if (fd < 0) {
        throw SystemException(QF_HERE, errno);
    }
    _handle = fd;
}

bool File::close() {
    bool closed = close(_handle);
    _handle = -1;
    return closed;
}

uint64_t File::size() const {
    return size(_handle);
}

uint32_t File::readHandle(int handle, void* buffer, uint32_t length) {
    ssize_t count;
    do {
        count = ::read(handle, buffer, length);
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
        throw SystemException(QF_HERE, errno);
    }
    return static_cast<uint32_t>(count);
}

uint32_t File::writeHandle(int handle, const void* buffer, uint32_t length) {
    ssize_t count;
    do {
        count = ::write(handle, buffer, length);
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
        throw SystemException(QF_HERE, errno);
    }
    return static_cast<uint32_t>(count);
}

void File::seekHandle(int handle, uint64_t position) {
    if (::lseek(handle, static_cast<off_t>(position), SEEK_SET) < 0) {
        throw SystemException(QF_HERE, errno);
    }
}

uint64_t File::tellHandle(int handle) {
    off_t position = ::lseek(handle, 0, SEEK_CUR);
    if (position < 0) {
        throw SystemException(QF_HERE, errno);
    }
    return static_cast<uint64_t>(position);
}

void File::truncateHandle(int handle) {
    if (::ftruncate(handle, static_cast<off_t>(tellHandle(handle))) != 0) {
        throw SystemException(QF_HERE, errno);
    }
}

void File::flushHandle(int handle) {
    if (::fsync(handle) != 0) {
        throw SystemException(QF_HERE, errno);
    }
}

uint32_t File::read(void* buffer, uint32_t length) {
    return readHandle(_handle, buffer, length);
}

uint32_t File::write(const void* buffer, uint32_t length) {
    return writeHandle(_handle, buffer, length);
}

void File::seek(uint64_t position) {
    seekHandle(_handle, position);
}

uint64_t File::tell() const {
    return tellHandle(_handle);
}

void File::truncate() {
    truncateHandle(_handle);
}

void File::truncate(uint32_t length) {
    seek(length);
    truncate();
}

void File::flush() {
    flushHandle(_handle);
}
