#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <utility>

// The identity of a file whatever descriptor or path names it: device and inode. Writes
// and barriers belong to the file, so durability is kept per FileKey.
using FileKey = std::pair<dev_t, ino_t>;

// False when the descriptor cannot be asked (it is not open).
inline bool fileKeyOf(int handle, FileKey& key) {
    struct stat info;
    if (::fstat(handle, &info) != 0) {
        return false;
    }
    key = {info.st_dev, info.st_ino};
    return true;
}
