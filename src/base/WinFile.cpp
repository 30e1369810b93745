#include "base/WinFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/AssertionFailException.h"
#include "base/File.h"
#include "base/SystemException.h"

namespace {

struct flock wholeFile(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return lock;
}

}  // namespace

WinFile::~WinFile() {
    close();
}

void WinFile::create(const char* path, uint64_t size) {
    File::create(path, size);
    if (assertionsEnabled.load(std::memory_order_relaxed)) {
        uint64_t sizeIn = size;
        uint64_t sizeOut = File::size(path);
        QF_ASSERT(sizeIn == sizeOut);
    }
}

bool WinFile::exists(const char* path) {
    return File::exists(path);
}

bool WinFile::remove(const char* path) {
    return File::remove(path);
}

bool WinFile::isLocked(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // Missing: nobody holds it. Any other failure: it is not ours to use.
        return errno != ENOENT && errno != ENOTDIR;
    }
    // Would an exclusive lock be granted? Any lock held through another open file
    // description answers no.
    struct flock probe = wholeFile(F_WRLCK);
    bool locked = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return locked;
}

void WinFile::open(const char* path, int flags, bool shared) {
    close();
    int fd;
    do {
        fd = ::open(path, File::systemFlags(flags) | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        throw SystemException(QF_HERE, errno);
    }
    if (!shared) {
        struct flock lock = wholeFile((flags & File::Write) ? F_WRLCK : F_RDLCK);
        if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
            int error = errno == EACCES ? EWOULDBLOCK : errno;
            bool created = (flags & File::CreateNew) != 0;
            ::close(fd);
            if (created) {
                ::unlink(path);
            }
            throw SystemException(QF_HERE, error);
        }
    }
    _handle = fd;
}

bool WinFile::close() {
    bool closed = File::close(_handle);
    _handle = InvalidHandle;
    return closed;
}

uint64_t WinFile::size() const {
    QF_ASSERT(_handle != InvalidHandle);
    return File::size(_handle);
}

uint32_t WinFile::read(void* buffer, uint32_t length) {
    QF_ASSERT(_handle != InvalidHandle);
    return File::readHandle(_handle, buffer, length);
}

uint32_t WinFile::write(const void* buffer, uint32_t length) {
    QF_ASSERT(_handle != InvalidHandle);
    return File::writeHandle(_handle, buffer, length);
}

void WinFile::seek(uint64_t position) {
    QF_ASSERT(_handle != InvalidHandle);
    File::seekHandle(_handle, position);
}

void WinFile::truncate() {
    QF_ASSERT(_handle != InvalidHandle);
    File::truncateHandle(_handle);
}

void WinFile::flush() {
    File::flushHandle(_handle);
}
