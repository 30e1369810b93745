#include "base/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "base/SystemException.h"

InstanceLock::~InstanceLock() {
    release();
}

bool InstanceLock::acquire(const std::string& path) {
    release();
    int handle = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (handle == -1) {
        throw SystemException(QF_HERE, errno);
    }
    int result;
    do {
        result = ::flock(handle, LOCK_EX | LOCK_NB);
    } while (result == -1 && errno == EINTR);
    if (result == -1) {
        int error = errno;
        ::close(handle);
        if (error == EWOULDBLOCK) {
            return false;
        }
        throw SystemException(QF_HERE, error);
    }
    _handle = handle;
    return true;
}

void InstanceLock::release() {
    if (_handle != -1) {
        ::close(_handle);
        _handle = -1;
    }
}
