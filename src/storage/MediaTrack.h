#pragma once

#include <cstdint>
#include <memory>

#include "storage/IOverwritePreparer.h"
#include "storage/MediaElement.h"
#include "storage/Track.h"

class FreePageList;

// A track of variable-size media elements: a 64-byte header and the frame's payload,
// which may continue at the start of the next page (whose first element then begins
// after it). The media track ("MDEA") frees its oldest pages on overwrite with the help
// of its overwrite preparer; the pre-event track ("PEVT") is the same record on another
// page type. A page is never cut in the middle on overwrite, since its first element
// may be the tail of a frame; rollback cuts the end so that no kept frame loses its tail.
//
// Written by the storage's writing thread only; readers use their own page objects.
class MediaTrack : public Track {
public:
    MediaTrack();
    ~MediaTrack() override;

    void init(Storage* storage, bool write, uint32_t lastPageNumber) override;
    bool close(bool flush) override;
    Page* appendPage(IPageInitializer* initializer) override;
    bool isVariableSize() const override { return true; }
    std::unique_ptr<IRecordable> newElement() const override;
    void removeAll() override;
    bool overwrite(uint64_t before) override;
    void rollback(uint64_t after, IRecordable& scratch) override;
    void rollbackAfter(uint64_t after) override;

    // Cuts `page` so that it ends just before `position` (its elements starting there or
    // later go); the cursor follows.
    void removeAfter(Page& page, const PagePosition& position, MediaElement& scratch);
    // Cuts the track so that it ends just before `position`, freeing the pages after it.
    // A position that is not in the track changes nothing.
    void rollback(const PagePosition& position);
    // The position of the first element whose ID is above `after`, (0, 0) when none.
    PagePosition positionAfterID(uint64_t after);

    IOverwritePreparer* preparer() { return _preparer.get(); }

protected:
    explicit MediaTrack(const PageType& type);

private:
    void restartPreparer();
    // Frees every page of the track.
    void deleteAll();
    // Pages from the track's first page up to (not including) `stop`, checked link by link.
    bool pagesBefore(uint32_t stop, FreePageList& freed);
    uint32_t firstPageByTimeline();
    // Without a preparer: the first page, walking headers, with an element at or above `before`.
    uint32_t firstPageAtOrAbove(uint64_t before);
    void makeFirst(uint32_t number, FreePageList& freed);
    // The end of the last element of `page` (its firstItemOffset without elements).
    uint32_t endOfElements(Page& page, uint64_t& end);

    std::unique_ptr<IOverwritePreparer> _preparer;
};
