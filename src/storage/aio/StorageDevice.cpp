#include "storage/aio/StorageDevice.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "base/Exception.h"
#include "base/File.h"

namespace {

std::atomic<StorageDevice::DirectIO> directIOMode{StorageDevice::DirectIO::Auto};

int openRetrying(const char* path, int flags) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

void StorageDevice::setDirectIO(DirectIO mode) {
    directIOMode.store(mode);
}

StorageDevice::DirectIO StorageDevice::directIO() {
    return directIOMode.load();
}

int StorageDevice::openHandle(const char* path, bool readOnly, uint64_t& fileSize) {
    try {
        if (!readOnly && File::isReadOnly(path)) {
            return -1;
        }
    } catch (const Exception&) {
        return -1;  // missing or unreadable: the open would fail as well
    }
    int flags = readOnly ? O_RDONLY : O_RDWR;
    int fd = -1;
    if (directIO() == DirectIO::Auto) {
        fd = openRetrying(path, flags | O_DIRECT);
    }
    if (fd < 0 && (directIO() == DirectIO::Never || errno == EINVAL)) {
        fd = openRetrying(path, flags);
    }
    if (fd < 0) {
        return -1;
    }
    if (!readOnly) {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
            ::close(fd);
            return -1;
        }
    }
    try {
        fileSize = File::size(fd);
    } catch (const Exception&) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool StorageDevice::isDirect(int handle) {
    int flags = ::fcntl(handle, F_GETFL);
    return flags >= 0 && (flags & O_DIRECT) != 0;
}

uint32_t StorageDevice::ioMinBlockSize(int handle) {
    return File::ioBlockSize(handle);
}
