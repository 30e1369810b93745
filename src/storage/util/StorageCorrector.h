#pragma once

#include <cstdint>
#include <string>

#include "storage/StorageUtility.h"
#include "storage/pager/PageType.h"

class Page;
class RecordingTableElement;
class Storage;

// Brings a storage that a crash, a power cut or damaged pages left inconsistent back to a
// state every reader and the writer can trust, when it is opened for writing: the
// journal's unfinished change is undone first; then every track's first and last pages
// are made to match the track list, a media frame whose tail never reached its next page
// is dropped, and every track is cut to the range of media IDs the timeline covers; the
// recoverer then indexes media the timeline lost. Each repair is one journaled change, so
// a power cut while correcting leaves a file the next open corrects again.
//
// Only the track ends are read on the way, so the cost follows the journal and the last
// pages, not the size of the file; whole chains are walked only where a track end itself
// is damaged. The engine's consistency checks are switched on for the length of the
// correction; a failed one (AssertionFailException) or any other error ends it with
// false, and the storage then refuses to open. One corrector per open, on the opening
// thread, before the storage is visible to anyone else.
class StorageCorrector {
public:
    explicit StorageCorrector(Storage& storage);

    // The correction, then (when `recover`) the recovery; false when either failed.
    bool run(bool recover);
    bool correction();
    // The ID the next media, pre-event or text-in element takes: past the timeline's last
    // element, or the superblock's counter for an empty timeline.
    uint64_t nextMediaID();

private:
    bool isEmptyTrack(const PageType& type);
    void deleteEveryDataTrack();
    void correctFronts();
    void correctEnds();
    void alignFronts();
    void trimTimelineToMedia();
    void alignEnds();
    // The timeline's first (last) entry must name the element it was written for; entries
    // that name nothing are cut from that end.
    void trimUnresolvedTimelineFront();
    void trimUnresolvedTimelineEnd();
    void trimRecordingTableToTimeline();
    bool pointsIntoTimeline(const RecordingTableElement& record);
    bool resolves(Page& scratch, uint64_t id, uint16_t mediaType, uint32_t number, uint32_t offset);
    void truncateLastOverflowedFrame(const PageType& type);
    void truncateBefore(const PageType& type, uint64_t before);
    void truncateAfter(const PageType& type, uint64_t after);
    void deleteTrack(const PageType& type);
    bool lastID(const PageType& type, uint64_t& id);
    bool recover();
    void log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    Storage& _storage;
    StorageUtility _utility;
};
