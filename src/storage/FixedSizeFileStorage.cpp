#include "storage/FixedSizeFileStorage.h"

#include <cstdio>

#include "base/Exception.h"
#include "base/Trace.h"
#include "storage/Track.h"
#include "storage/aio/StorageDevice.h"

int FixedSizeFileStorage::openHandle(const char* path, bool readOnly) {
    uint64_t size = 0;
    int handle = StorageDevice::openHandle(path, readOnly, size);
    if (handle != -1) {
        _fileSize = size;
    }
    return handle;
}

uint32_t FixedSizeFileStorage::ioMinBlockSize() {
    int handle = _writeHandle != -1 ? _writeHandle : _readHandle;
    return handle != -1 ? StorageDevice::ioMinBlockSize(handle) : 512;
}

void FixedSizeFileStorage::rollbackTo(uint32_t sectionID, uint64_t itemID) {
    char line[96];
    std::snprintf(line, sizeof line, "[ROLLBACK] section= %u id= %llu", sectionID,
                  static_cast<unsigned long long>(itemID));
    log(line, 2, true);
    for (const PageType* type : {&PageType::Timeline, &PageType::TextIn, &PageType::Event}) {
        if (Track* t = track(*type)) {
            t->rollbackAfter(itemID);
        }
    }
    if (Track* t = track(PageType::RecordingTable)) {
        t->rollbackAfter(itemID);
    }
    if (Track* t = track(PageType::Media)) {
        t->rollbackAfter(itemID);
    }
    flush();
    _nextItemID = itemID + 1;
}

bool formatStorageFile(const std::string& path, const UniqueID& repositoryID) {
    FixedSizeFileStorage storage;
    try {
        storage.open(path.c_str());  // a new file has no valid superblock: false is expected
        FormatOptions options;
        options.repositoryID = repositoryID;
        options.recorderType = RecorderType::Flac;
        storage.format(options);
        return storage.close(true);
    } catch (const Exception& e) {
        QF_TRACE("formatStorageFile(%s): %s", path.c_str(), e.describe().c_str());
        storage.close(false);
        return false;
    }
}
