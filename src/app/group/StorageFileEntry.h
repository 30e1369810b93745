#pragma once

#include <cstdint>
#include <string>

#include "base/Interval.h"

// One storage file listed in a group file, as the group context classified it when it
// last opened the group: where it is, how large it is, how much of it holds data, what
// period it recorded, and whether it could join the group. A plain value, copied to the
// storage manager.
class StorageFileEntry {
public:
    // The values are shown by the storage manager and cannot change meaning.
    enum Status : int {
        Unknown = 0,       // not yet opened
        Good = 1,          // opened; a member of the group
        NotFormatted = 2,  // no storage, or a storage of another repository
        NotFound = 3,      // the file does not exist
        OpenError = 4,     // the file could not be opened as a storage
    };

    StorageFileEntry() = default;
    StorageFileEntry(int key, const std::string& path) : _key(key), _path(path) {}

    // "Unknown", "Good", "Not Formatted", "Not Found", "Open Error"; "Unknown" for any
    // other value.
    static const char* statusText(int status);

    // The entry's key in its context: a small number counting up from 0 per context.
    int key() const { return _key; }
    const std::string& path() const { return _path; }
    int status() const { return _status; }
    void setStatus(int status) { _status = status; }
    const char* statusText() const { return statusText(_status); }
    // Bytes of the file, read from the file system when the entry is opened.
    uint64_t fileSize() const { return _fileSize; }
    void setFileSize(uint64_t bytes) { _fileSize = bytes; }
    // Bytes of pages in use: (total pages - free pages) x page size.
    uint64_t usedBytes() const { return _usedBytes; }
    void setUsedBytes(uint64_t bytes) { _usedBytes = bytes; }
    // What the storage recorded; unset when nothing, or when it was not opened.
    const Interval& recordingInterval() const { return _recordingInterval; }
    void setRecordingInterval(const Interval& interval) { _recordingInterval = interval; }

private:
    int _key = 0;
    std::string _path;
    int _status = Unknown;
    uint64_t _fileSize = 0;
    uint64_t _usedBytes = 0;
    Interval _recordingInterval;
};
