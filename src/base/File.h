#pragma once

#include <cstdint>

// A thin wrapper over one file descriptor, for the storage engine and the storage
// dialogs: creating a storage file of an exact size, asking whether a file exists, its
// size, whether it is read-only, and plain sequential reads and writes. Paths are UTF-8.
// Every failure throws a SystemException with the errno of the failing call; descriptors
// an operation opened itself are closed before it throws; nothing is retried except
// calls interrupted by a signal. An object is used by one thread at a time; it owns its
// descriptor and closes it when destroyed.
class File {
public:
    // Open flags, shared with WinFile.
    enum Flags {
        Read = 1,
        Write = 2,
        WriteThrough = 4,  // every write reaches the device before it returns
        CreateNew = 8,     // create the file, fail when it exists; without it the file must exist
    };

    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    // Creates a new file of exactly `size` bytes with its space reserved on the volume, so
    // that writing it later cannot run out of room; an existing file is left untouched and
    // the call throws. More than the volume has free fails at once with ENOSPC and leaves
    // no file. Fast: the space is allocated, not written (on a file system that cannot
    // allocate without writing, the free space is checked and the file is left sparse).
    static void create(const char* path, uint64_t size);
    // The same as create, which always reserves the space; kept for its callers.
    static void createPreallocated(const char* path, uint64_t size);
    // True when the path names a file, false when the file is missing. A missing parent
    // directory or any other failure to look is an error, not "missing".
    static bool exists(const char* path);
    static bool remove(const char* path);
    static bool rename(const char* from, const char* to);
    static uint64_t size(const char* path);
    static uint64_t size(int handle);
    // True when nobody may write the file: no write permission bit is set. (The
    // permission bits play the part of a read-only attribute; root ignores them when
    // opening, so callers must ask.)
    static bool isReadOnly(const char* path);
    // True for raw-device paths: the "\\.\PHYSICALDRIVE" prefix, or a block device
    // under /dev/.
    static bool isPhysicalDrive(const char* path);
    // Bytes available to an unprivileged caller on the file system holding `directory`.
    static uint64_t freeSize(const char* directory);
    // -1 counts as closed already.
    static bool close(int handle);
    // The unit in which a descriptor opened for direct I/O must be transferred: the
    // sector size of a block device, the direct-I/O alignment a file system reports for
    // a file, else the logical block size of the device holding the file
    // (deviceBlockSize). Never below 512.
    static uint32_t ioBlockSize(int handle);
    // The logical block size of the device holding the file, found without the file
    // system's help: from sysfs, else by probing which direct read sizes the descriptor
    // accepts. 0 when neither tells (a buffered descriptor of a file on no block device).
    static uint32_t deviceBlockSize(int handle);
    // The logical block size sysfs under `sysfsRoot` gives for block device major:minor
    // (a partition answers with its disk's); 0 when it gives none.
    static uint32_t logicalBlockSize(unsigned major, unsigned minor, const char* sysfsRoot = "/sys");

    void open(const char* path, int flags);
    // The descriptor becomes -1 whatever the result.
    bool close();
    uint64_t size() const;
    uint32_t read(void* buffer, uint32_t length);
    uint32_t write(const void* buffer, uint32_t length);
    void seek(uint64_t position);
    uint64_t tell() const;
    // Cuts the file at the current position.
    void truncate();
    // Cuts the file at `length` and leaves the position there.
    void truncate(uint32_t length);
    void flush();
    uint32_t blockSize() const { return 1024; }

    int handle() const { return _handle; }
    bool isOpen() const { return _handle != -1; }

    // The open(2) flags for a File flag set.
    static int systemFlags(int flags);

    // Descriptor operations shared by File and WinFile: interrupted calls are retried and
    // every failure throws SystemException with the system's error code.
    static uint32_t readHandle(int handle, void* buffer, uint32_t length);
    static uint32_t writeHandle(int handle, const void* buffer, uint32_t length);
    static void seekHandle(int handle, uint64_t position);
    static uint64_t tellHandle(int handle);
    // Cuts the file at the descriptor's current position.
    static void truncateHandle(int handle);
    static void flushHandle(int handle);

private:
    int _handle = -1;
};
