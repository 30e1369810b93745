#include "base/PrivateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/SystemException.h"

namespace PrivateFile {

void write(const std::string& path, const std::string& text) {
    std::string temporary = path + ".tmp";
    ::unlink(temporary.c_str());
    int handle = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (handle == -1) {
        throw SystemException(QF_HERE, errno);
    }
    size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(handle, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            int error = errno;
            ::close(handle);
            ::unlink(temporary.c_str());
            throw SystemException(QF_HERE, error);
        }
        written += static_cast<size_t>(n);
    }
    // The umask may have narrowed the mode; never widen it beyond 0600.
    ::fchmod(handle, 0600);
    ::close(handle);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        throw SystemException(QF_HERE, error);
    }
}

std::optional<std::string> read(const std::string& path) {
    int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle == -1) {
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(handle, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(handle);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > 1 << 20) {
            ::close(handle);
            return std::nullopt;
        }
    }
    ::close(handle);
    return text;
}

int mode(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        return -1;
    }
    return static_cast<int>(info.st_mode & 07777);
}

}  // namespace PrivateFile
