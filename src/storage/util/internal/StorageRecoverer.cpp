#include "storage/util/internal/StorageRecoverer.h"

#include <cstdarg>
#include <cstdio>

#include "base/Exception.h"
#include "storage/MediaElement.h"
#include "storage/MediaTrack.h"
#include "storage/RecordingTable.h"
#include "storage/Storage.h"
#include "storage/StorageUtility.h"
#include "storage/Timeline.h"
#include "storage/TimelineElement.h"
#include "storage/pager/Page.h"

void StorageRecoverer::log(const char* fmt, ...) {
    char line[400];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    _storage.log(line, 2, false);
}

void StorageRecoverer::run() {
    if (_storage.timeline() == nullptr || _storage.mediaTrack() == nullptr) {
        return;  // nothing to rebuild without the recording tracks
    }
    _storage.openTracks();
    try {
        recoverTimeline();
        recoverRecordingTable();
    } catch (...) {
        _storage.closeTracks(false);
        throw;
    }
    _storage.closeTracks(true);
}

void StorageRecoverer::recoverTimeline() {
    Timeline* timeline = _storage.timeline();
    MediaTrack* media = _storage.mediaTrack();
    if (timeline == nullptr || media == nullptr || media->isEmpty()) {
        log("[RECOVERY] no need to recover timeline");
        return;
    }
    StorageUtility utility(_storage);
    TimelineElement last;
    uint64_t after = utility.lastItem(PageType::Timeline, last) ? last.mediaID() : 0;
    MediaElement lastMedia;
    if (!utility.lastItem(PageType::Media, lastMedia) || lastMedia.mediaID() <= after) {
        log("[RECOVERY] no need to recover timeline");
        return;
    }
    log("findMediaPositionAfter(%llu)", static_cast<unsigned long long>(after));
    PagePosition at = media->positionAfterID(after);
    Page page(_storage.superBlock(), _storage.pageCache());
    MediaElement frame;
    if (!at.isSet() || !media->read(page, at, frame)) {
        log("[RECOVERY] no need to recover timeline");
        return;
    }
    log("[RECOVERY] recovery timeline from media (%u, %u)", at.number, at.offset);
    PagePosition lastPosition;
    uint64_t lastGood = after;
    for (bool ok = true; ok;) {
        if (frame.mediaID() > after) {
            TimelineElement entry;
            PagePosition written = timeline->write(frame, at, entry);
            if (written.isSet()) {
                if (_recovered == 0) {
                    log("[RECOVERY] timeline recovery start position (%u, %u)", written.number, written.offset);
                }
                ++_recovered;
                lastPosition = written;
            }
        }
        lastGood = frame.mediaID();
        ok = media->next(page, at, frame);
        if (!ok && lastGood < lastMedia.mediaID()) {
            // The chain breaks before the track's last frame: what follows cannot be read.
            log("[RECOVERY] exception when timeline recovery: %s", "media element cannot be read");
            media->rollbackAfter(lastGood);
        }
    }
    timeline->flush();
    log("[RECOVERY] timeline %d items recovered. last position (%u, %u)", static_cast<int>(_recovered),
        lastPosition.number, lastPosition.offset);
}

void StorageRecoverer::recoverRecordingTable() {
    RecordingTable* table = _storage.recordingTable();
    Timeline* timeline = _storage.timeline();
    if (table == nullptr || timeline == nullptr || timeline->isEmpty()) {
        log("[RECOVERY] no need to recover recording table");
        return;
    }
    uint32_t updated = table->catchUpWithTimeline();
    if (updated == 0) {
        log("[RECOVERY] no need to recover recording table");
    } else {
        log("[RECOVERY] recording table %d items updated", static_cast<int>(updated));
    }
    table->finish();
    table->flush();
}
