#include "base/ExclusiveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/File.h"
#include "base/SystemException.h"
#include "base/WinFile.h"

namespace {

// Opens shared (without WinFile's lock): the lock is taken separately, so that the path
// can be checked again once it is held. False when the file appeared between a failed
// open and its creation: the caller looks again.
bool openDescriptor(WinFile& file, const std::string& path, bool create) {
    try {
        file.open(path.c_str(), File::Read | File::Write, true);
        return true;
    } catch (const SystemException& e) {
        if (!create || e.errorCode() != ENOENT) {
            throw;
        }
    }
    try {
        file.open(path.c_str(), File::Read | File::Write | File::CreateNew, true);
        return true;
    } catch (const SystemException& e) {
        if (e.errorCode() != EEXIST) {
            throw;
        }
    }
    return false;
}

// The same lock as WinFile's unshared open for writing: an open-file-description write
// lock over the whole file, which conflicts with every other holder's.
void lockWholeFile(int handle) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    if (::fcntl(handle, F_OFD_SETLK, &lock) != 0) {
        int error = errno;
        throw SystemException(QF_HERE, error == EACCES ? EWOULDBLOCK : error);
    }
}

// True when `path` names the regular file open as `handle`; false when it names another
// file or nothing. Anything but a regular file is refused: reading a pipe could block
// forever, and a replacement must never rename over a device.
bool namesFile(const std::string& path, int handle) {
    struct stat held;
    if (::fstat(handle, &held) != 0) {
        throw SystemException(QF_HERE, errno);
    }
    if (!S_ISREG(held.st_mode)) {
        throw SystemException(QF_HERE, EINVAL);
    }
    struct stat named;
    if (::stat(path.c_str(), &named) != 0) {
        if (errno == ENOENT) {
            return false;
        }
        throw SystemException(QF_HERE, errno);
    }
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

void writeAll(WinFile& file, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        auto chunk = static_cast<uint32_t>(std::min<size_t>(content.size() - done, 1u << 30));
        uint32_t written = file.write(content.data() + done, chunk);
        if (written == 0) {
            throw SystemException(QF_HERE, EIO);
        }
        done += written;
    }
}

// Renames without replacing anything at `to`; false when something is there.
bool renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    if (errno != EINVAL) {
        throw SystemException(QF_HERE, errno);
    }
    // A file system without the no-replace rename: a creator racing this one between the
    // look and the rename could still lose its file, but a new group holds nothing yet.
    if (File::exists(to.c_str())) {
        return false;
    }
    if (!File::rename(from.c_str(), to.c_str())) {
        throw SystemException(QF_HERE, errno);
    }
    return true;
}

std::string parentOf(const std::string& path) {
    std::string parent = std::filesystem::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

void syncDirectory(const std::string& directory) {
    File handle;
    handle.open(directory.c_str(), File::Read);
    handle.flush();
}

std::string resolved(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) {
        throw SystemException(QF_HERE, errno);
    }
    std::string result(real);
    std::free(real);
    return result;
}

// Only a replacement under way can make a locked file lose its path, and a holder only
// replaces once per save, so a few rounds suffice; past them the file counts as held.
constexpr int MAX_OPEN_ATTEMPTS = 8;

}  // namespace

ExclusiveFile::ExclusiveFile() = default;

ExclusiveFile::~ExclusiveFile() {
    close();
}

std::string ExclusiveFile::temporaryPathOf(const std::string& path) {
    return path + TEMPORARY_SUFFIX;
}

bool ExclusiveFile::isOpen() const {
    return _file != nullptr && _file->handle() != WinFile::InvalidHandle;
}

void ExclusiveFile::open(const std::string& path) {
    close();
    std::unique_ptr<WinFile> file = openLocked(path, false, true);
    _target = resolved(path);
    _file = std::move(file);
    _path = path;
    discardLeftover();
}

bool ExclusiveFile::create(const std::string& path, const std::string& content) {
    close();
    if (File::exists(path.c_str())) {
        return false;
    }
    std::string temporary = temporaryPathOf(path);
    std::unique_ptr<WinFile> next = writeTemporary(temporary, content);
    bool placed = false;
    try {
        placed = renameNoReplace(temporary, path);
    } catch (const SystemException&) {
        File::remove(temporary.c_str());
        throw;
    }
    if (!placed) {
        File::remove(temporary.c_str());
        return false;
    }
    _path = path;
    _target = path;
    step(Step::Renamed);
    try {
        adopt(std::move(next));
    } catch (const SystemException&) {
        close();  // the caller learns of a failure, not of a file it holds
        throw;
    }
    return true;
}

std::string ExclusiveFile::readAll(size_t limit) {
    if (!isOpen()) {
        throw SystemException(QF_HERE, EBADF);
    }
    uint64_t size = _file->size();
    if (size > limit) {
        throw SystemException(QF_HERE, EFBIG);
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    _file->seek(0);
    size_t done = 0;
    while (done < bytes.size()) {
        uint32_t count = _file->read(bytes.data() + done, static_cast<uint32_t>(bytes.size() - done));
        if (count == 0) {
            break;
        }
        done += count;
    }
    bytes.resize(done);
    return bytes;
}

void ExclusiveFile::replace(const std::string& content) {
    if (!isOpen()) {
        throw SystemException(QF_HERE, EBADF);
    }
    std::string temporary = temporaryPathOf(_target);
    std::unique_ptr<WinFile> next = writeTemporary(temporary, content);
    if (!File::rename(temporary.c_str(), _target.c_str())) {
        int error = errno;
        File::remove(temporary.c_str());
        throw SystemException(QF_HERE, error);
    }
    step(Step::Renamed);
    adopt(std::move(next));
}

bool ExclusiveFile::close() {
    bool closed = _file == nullptr || _file->close();
    _file.reset();
    _path.clear();
    _target.clear();
    return closed;
}

void ExclusiveFile::discardLeftover() {
    std::string temporary = temporaryPathOf(_target);
    try {
        // Only a replacement writes the temporary, and replacements need the file this
        // object now holds: one nobody has locked is what a crash left behind.
        std::unique_ptr<WinFile> leftover = openLocked(temporary, false, false);
        File::remove(temporary.c_str());
    } catch (const SystemException&) {
        // None there, or not ours to remove; the next replacement reuses it anyway.
    }
}

std::unique_ptr<WinFile> ExclusiveFile::openLocked(const std::string& path, bool create, bool announce) {
    for (int attempt = 0; attempt < MAX_OPEN_ATTEMPTS; ++attempt) {
        auto file = std::make_unique<WinFile>();
        if (!openDescriptor(*file, path, create)) {
            continue;
        }
        if (announce) {
            step(Step::Opened);
        }
        lockWholeFile(file->handle());
        if (namesFile(path, file->handle())) {
            return file;
        }
    }
    throw SystemException(QF_HERE, EWOULDBLOCK);
}

std::unique_ptr<WinFile> ExclusiveFile::writeTemporary(const std::string& temporary,
                                                       const std::string& content) {
    std::unique_ptr<WinFile> next = openLocked(temporary, true, false);
    step(Step::TemporaryOpened);
    try {
        // A temporary left by an interrupted replacement is reused from its start.
        next->seek(0);
        next->truncate();
        writeAll(*next, content);
        step(Step::TemporaryWritten);
        // Guards against a power cut after the rename leaving the path naming a file
        // whose content never reached the disk.
        next->flush();
        step(Step::TemporaryDurable);
    } catch (const SystemException&) {
        File::remove(temporary.c_str());
        throw;
    }
    return next;
}

void ExclusiveFile::adopt(std::unique_ptr<WinFile> next) {
    _file.swap(next);
    if (next != nullptr) {
        next->close();  // the old file: the path names the new one, which is held
    }
    // Guards against a power cut undoing the rename after it was reported done: a new
    // file would vanish again, a replaced one get its old content back.
    syncDirectory(parentOf(_target));
    step(Step::DirectoryDurable);
}

void ExclusiveFile::step(Step reached) {
    if (_hook) {
        _hook(reached);
    }
}
