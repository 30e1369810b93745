#pragma once

#include <cstdint>

// The file of a storage group: opened with or without sharing. An unshared open takes
// an open-file-description lock over the whole file (a write lock when opened for
// writing, else a read lock), so a second station, or a second group object, that
// tries to use the same group file sees it as locked and the open fails. The lock lives
// as long as the descriptor. Paths are UTF-8. Failures throw SystemException; while
// `assertionsEnabled` is set, operations on a closed object throw AssertionFailException.
// One thread at a time; the object owns its descriptor and closes it when destroyed.
class WinFile {
public:
    static constexpr int InvalidHandle = -1;

    WinFile() = default;
    virtual ~WinFile();
    WinFile(const WinFile&) = delete;
    WinFile& operator=(const WinFile&) = delete;

    static void create(const char* path, uint64_t size);
    static bool exists(const char* path);
    static bool remove(const char* path);
    // True when the file cannot be had for exclusive use: somebody holds it through an
    // unshared open (a conflicting lock), or it cannot even be opened for reading
    // (permission denied, ...). False only when the file is missing (or its directory).
    static bool isLocked(const char* path);

    // `flags` as for File (File::Read, File::Write, ...). `shared` false locks the file;
    // when another holder's lock conflicts, the open fails with EWOULDBLOCK.
    void open(const char* path, int flags, bool shared);
    bool close();
    uint64_t size() const;
    uint32_t read(void* buffer, uint32_t length);
    uint32_t write(const void* buffer, uint32_t length);
    void seek(uint64_t position);
    // Cuts the file at the current position.
    void truncate();
    void flush();

    int handle() const { return _handle; }

private:
    int _handle = InvalidHandle;
};
