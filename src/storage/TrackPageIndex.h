#pragma once

#include <cstdint>
#include <vector>

class Page;
class Storage;
class PageType;

// The pages of a small track in order with their ID ranges, so a query can start at
// the page holding a media ID without walking the chain. Rebuilt at open, kept current
// by the writer; the owning track guards it with its own mutex.
class TrackPageIndex {
public:
    struct Entry {
        uint32_t page = 0;
        uint32_t checksum = 0;
        uint64_t firstID = 0;
        uint64_t lastID = 0;
    };

    // Walks the track from its first page (headers only); a link that does not hold
    // ends the walk.
    void rebuild(Storage& storage, const PageType& type);
    // The writer wrote into `page`, which is the track's last page.
    void noteWrite(Page& page);
    void dropBefore(uint32_t firstPage);
    void cutAfter(uint32_t lastPage);
    void clear() { _entries.clear(); }

    // The last page whose first ID is at or below `id`; the first page when none is.
    const Entry* pageAtOrBefore(uint64_t id) const;
    // The first page whose last ID is at or above `id`.
    const Entry* pageAtOrAfter(uint64_t id) const;
    const std::vector<Entry>& entries() const { return _entries; }

private:
    std::vector<Entry> _entries;
};
