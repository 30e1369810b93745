#include "storage/FixedSizeFileStorage.h"

#include <cstdio>

#include "base/Exception.h"
#include "base/Trace.h"
#include "storage/BadTrack.h"
#include "storage/EventTrack.h"
#include "storage/MediaTrack.h"
#include "storage/OverwritePreparer.h"
#include "storage/PreEventTrack.h"
#include "storage/RecordingTable.h"
#include "storage/StorageUtility.h"
#include "storage/TextInTrack.h"
#include "storage/Timeline.h"
#include "storage/TimelineElement.h"
#include "storage/Track.h"
#include "storage/pager/Page.h"
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

FixedSizeFileStorage::FixedSizeFileStorage(Tracks tracks) {
    if (tracks == Tracks::Standard) {
        installTrack(std::make_unique<Timeline>());
        installTrack(std::make_unique<RecordingTable>());
        installTrack(std::make_unique<MediaTrack>());
        installTrack(std::make_unique<EventTrack>());
        installTrack(std::make_unique<PreEventTrack>());
        installTrack(std::make_unique<TextInTrack>());
        installTrack(std::make_unique<BadTrack>());
    }
}

std::unique_ptr<IOverwritePreparer> FixedSizeFileStorage::newOverwritePreparer() {
    return std::make_unique<OverwritePreparer>();
}

void FixedSizeFileStorage::rollbackTo(uint32_t sectionID, uint64_t itemID) {
    char line[96];
    std::snprintf(line, sizeof line, "[ROLLBACK] section= %u id= %llu", sectionID,
                  static_cast<unsigned long long>(itemID));
    log(line, 2, true);
    // The media position of the first item to go, from the timeline's end backwards.
    PagePosition mediaPosition;
    if (Timeline* entries = timeline(); entries != nullptr && !entries->isEmpty()) {
        Page page(superBlock(), pageCache());
        TimelineElement entry;
        PagePosition at = StorageUtility(*this).lastPosition(PageType::Timeline);
        for (bool ok = at.isSet() && entries->read(page, at, entry); ok; ok = entries->previous(page, at, entry)) {
            if (entry.mediaID() <= itemID) {
                break;
            }
            if (entry.mediaID() == itemID + 1 && entry.mediaType() != TimelineLinkedElement::TextIn) {
                mediaPosition = entry.mediaPosition();
                break;
            }
        }
    }
    for (const PageType* type : {&PageType::Timeline, &PageType::TextIn, &PageType::Event}) {
        if (Track* t = track(*type)) {
            t->rollbackAfter(itemID);
        }
    }
    if (RecordingTable* table = recordingTable()) {
        table->rollback(sectionID, itemID);
    } else if (Track* t = track(PageType::RecordingTable)) {
        t->rollbackAfter(itemID);
    }
    if (MediaTrack* media = mediaTrack()) {
        // Without the timeline's word (a frame the timeline refused), the media IDs decide:
        // no frame above itemID may stay, or its ID would be given again.
        if (mediaPosition.isSet()) {
            media->rollback(mediaPosition);
        }
        media->rollbackAfter(itemID);
    } else if (Track* t = track(PageType::Media)) {
        t->rollbackAfter(itemID);
    }
    flush();
    _nextItemID = itemID + 1;
}

bool formatStorageFile(const std::string& path, const UniqueID& repositoryID, uint32_t pageSize) {
    FixedSizeFileStorage storage;
    try {
        storage.open(path.c_str());  // a new file has no valid superblock: false is expected
        FormatOptions options;
        options.repositoryID = repositoryID;
        options.pageSize = pageSize;
        options.recorderType = RecorderType::Flac;
        storage.format(options);
        return storage.close(true);
    } catch (const Exception& e) {
        QF_TRACE("formatStorageFile(%s): %s", path.c_str(), e.describe().c_str());
        storage.close(false);
        return false;
    }
}
