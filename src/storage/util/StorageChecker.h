#pragma once

#include <string>
#include <vector>

#include "storage/StorageUtility.h"
#include "storage/pager/PageType.h"

class Page;
class Storage;

// Tells whether a storage can be read as it is, without changing a byte of it: the
// journal is empty, every data track's first and last pages are what the track list
// says and end their chain, a media frame does not continue into a page that never
// joined, the timeline's first and last entries name the elements they were written
// for, and the recording table's first and last records point into the timeline. These
// are the places a crash leaves wrong, and the only pages read, so the check costs a few
// pages. The thorough form also walks every chain and the free list: no page is in two
// tracks, or both free and in a track.
//
// Used by read-only opens and by `tarsil check`; on the opening thread.
class StorageChecker {
public:
    struct Finding {
        std::string text;
        // The storage cannot be read as it is; otherwise a writable open would change it
        // (a frame whose tail never joined, media the timeline does not index yet) but
        // readers are safe, as they are while a writer records.
        bool blocking = true;
    };

    explicit StorageChecker(Storage& storage);

    // True when nothing blocking was found.
    bool check();
    // check() and the walk over every chain and the free list.
    bool checkThoroughly();
    const std::vector<Finding>& findings() const { return _findings; }

private:
    void checkJournal();
    void checkTrackEnds(const PageType& type);
    void checkTimelineEnds();
    void checkTimelineEntry(const char* which, const PagePosition& position);
    void checkRecordingTableEnds();
    void checkMediaIndexed();
    void checkPageOwnership();
    void find(const std::string& text, bool blocking = true);
    bool hasBlocking() const;

    Storage& _storage;
    StorageUtility _utility;
    std::vector<Finding> _findings;
};
