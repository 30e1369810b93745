#pragma once

#include <cstdint>

// Opening a storage file for device I/O and finding the unit it must be transferred in.
//
// Storage files are opened for direct I/O (O_DIRECT), so no storage transfer goes
// through the system's file cache and every transfer is whole aligned blocks. A file
// system that refuses direct I/O gets a buffered descriptor instead; the engine's
// barriers (fdatasync) then carry the same durability. The write descriptor holds an
// open-file-description write lock over the whole file, so a second writer of the same
// file, in this process or another, is refused and falls back to reading.
class StorageDevice {
public:
    enum class DirectIO {
        Auto,   // direct I/O where the file system allows it
        Never,  // always buffered (tests of the fallback path)
    };

    // Process-wide; affects descriptors opened afterwards.
    static void setDirectIO(DirectIO mode);
    static DirectIO directIO();

    // A descriptor of the existing file at `path`, or -1 when it cannot be opened: the
    // file is missing, or read/write is asked for and the file is read-only (its
    // permission bits deny writing; the file is then not touched) or another writer
    // holds it. `fileSize` receives the file's size when the open succeeds.
    static int openHandle(const char* path, bool readOnly, uint64_t& fileSize);
    // True when the descriptor bypasses the file cache.
    static bool isDirect(int handle);
    // The I/O block size of the descriptor's file: the sector size of a block device, the
    // file system's direct-I/O alignment, or else the logical block size of the device
    // holding the file (File::ioBlockSize); never below 512.
    static uint32_t ioMinBlockSize(int handle);
};
