#pragma once

#include <cstdint>
#include <memory>

#include "storage/PagePosition.h"
#include "storage/StorageUtility.h"
#include "storage/pager/PageType.h"

class IRecordable;
class Page;
class Storage;

// An independent reader over the track of one page type: it has its own page object
// and position, so it never disturbs the track's cursor or the page being written, and
// may run on any thread. Every page it steps to is checked through StorageUtility; a
// broken or overwritten link is logged and leaves the iterator invalid (position
// (0, 0)) instead of throwing. Fixed-size tracks step by the page's item size;
// MediaTrackIterator steps over variable-size elements. One owner at a time.
class TrackIterator {
public:
    TrackIterator(Storage& storage, const PageType& type);
    virtual ~TrackIterator();
    TrackIterator(const TrackIterator&) = delete;
    TrackIterator& operator=(const TrackIterator&) = delete;

    // Bytes to the previous and to the next element.
    virtual int stepBack();
    virtual int stepForward();
    virtual void toFirst();
    virtual void toLast();
    virtual void seek(const PagePosition& position);
    virtual void previous();
    virtual void next();
    // The position names an element of a loaded page of the track.
    virtual bool isValid();
    // Reads the element at the position; false when the position is not valid.
    virtual bool read(IRecordable& element);

    const PagePosition& position() const { return _position; }
    const PageType& type() const { return _type; }

protected:
    Page& page() { return *_page; }
    void invalidate();
    uint32_t pageSize() const;

    Storage& _storage;
    StorageUtility _utility;
    std::unique_ptr<Page> _page;
    PageType _type;
    PagePosition _position;
};
