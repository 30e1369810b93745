#pragma once

#include <cstdint>
#include <memory>

#include "storage/PagePosition.h"
#include "storage/pager/PageType.h"

class FreePageList;
class IPageInitializer;
class IRecordable;
class Page;
class Storage;

// The chain of pages of one page type in a storage: elements are appended to the last
// page, new pages join the chain through the storage (which journals them), old pages
// are dropped from the front (overwrite) and the end is cut back (rollback). Concrete
// tracks derive from it and supply their element record.
//
// Entry points the storage calls: init and close at open, format and close; flush;
// write; overwrite / removeAll when it makes room; rollback and the section-level
// rollback hooks. A track is used by the storage's writing thread; the page mutex is
// held while a page's memory changes, so readers on other threads copy whole images.
class Track {
public:
    // The smallest element header of any track: a page's last element must leave room
    // for at least this much.
    static constexpr uint32_t MinElementHeader = 64;

    Track(const PageType& type, uint32_t itemSize);
    virtual ~Track();
    Track(const Track&) = delete;
    Track& operator=(const Track&) = delete;

    // Frees every page of the track.
    virtual void removeAll();
    // Drops every element below `before` from the front. Nothing here: the data tracks
    // decide how (see overwriteFront). Returns whether pages were freed.
    virtual bool overwrite(uint64_t before);
    virtual Page* appendPage(IPageInitializer* initializer);
    virtual uint32_t nextWritablePageNumber();
    virtual void loadCurrentForWrite(uint32_t number);
    virtual PageType type() const { return _type; }
    virtual int itemSize() const { return static_cast<int>(_itemSize); }
    // `lastPageNumber` 0: the track is empty. The last page must be a page of this
    // track as the registry names it (TarsilException 4 otherwise).
    virtual void init(Storage* storage, bool write, uint32_t lastPageNumber);
    virtual bool close(bool flush);
    virtual void rollback(uint64_t after, IRecordable& scratch);
    virtual PagePosition write(IRecordable& element);
    virtual void flush();
    virtual bool isVariableSize() const { return false; }
    virtual bool isEmpty();
    virtual bool hasRoomFor(const IRecordable& element);

    // A blank element of the track's record type, used as scratch when walking pages.
    virtual std::unique_ptr<IRecordable> newElement() const = 0;
    // Drops the track's first page; `newFirstID` receives the new first element's ID.
    // False when the track has fewer than two pages.
    virtual bool dropFirstPage(uint64_t& newFirstID);
    // Cuts the end back to the element `after` (storage rollback to a section).
    virtual void rollbackAfter(uint64_t after);
    // Told the last item ID of every timeline page written (the pre-event track).
    virtual void timelinePageFlushed(uint64_t lastItemID) { (void)lastItemID; }
    // A full flush is about to begin (the recording table closes its open entry).
    virtual void beforeFullFlush() {}

    // ---- reading ----------------------------------------------------------------------
    // Positions name an element's first byte. Every read checks the page it lands on
    // (type, header bounds, the links and checksums of neighbours) and answers false,
    // after logging, for a position that is invalid or whose page was overwritten; the
    // element is filled only on true. Nothing outside a page's memory is ever read.
    //
    // The caller forms work on a page object and position of the caller's own, so other
    // threads can read while the writer appends. The cursor forms use the track's own
    // reading page and cursor, which never disturb the page being written.
    virtual bool read(IRecordable& element);
    virtual bool read(Page& page, const PagePosition& position, IRecordable& element);
    virtual bool next(IRecordable& element);
    virtual bool next(Page& page, PagePosition& position, IRecordable& element);
    virtual bool previous(IRecordable& element);
    virtual bool previous(Page& page, PagePosition& position, IRecordable& element);
    virtual bool seek(const PagePosition& position);
    virtual bool seek(Page& page, const PagePosition& position);
    // The first and last element of the page under the reading cursor (the current page
    // before the cursor has moved).
    virtual bool seekFirstOfCurrentPage();
    virtual bool seekLastOfCurrentPage();
    // True when `position` names no element of `page`: another page, no elements, an
    // offset outside [firstItemOffset, lastItemOffset] or off the item grid, or a header
    // that does not fit the page.
    bool isInvalidPosition(Page& page, const PagePosition& position);
    const PagePosition& readCursor() const { return _readCursor; }
    // Whether `element` can be stored at all: header and payload within two pages' data
    // areas (the rest of the current page when they fit there, else a fresh page, and
    // the one after it). Writes refuse elements that do not, before any byte changes.
    bool canStore(const IRecordable& element);
    // Whether the element starts in the current page rather than a fresh one.
    bool fitsCurrentPage(const IRecordable& element);
    // New pages a write of `element` would take: 0, 1 or 2.
    uint32_t pagesNeededFor(const IRecordable& element);

    bool isOpen() const { return _open; }
    bool isWritable() const { return _write; }
    Page* currentPage() { return _current; }
    const PagePosition& cursor() const { return _cursor; }
    // Free bytes after the write position of the current page; 0 without one.
    uint32_t freeBytes();

protected:
    // The base front-dropping algorithm: frees whole pages whose elements all lie below
    // `before`, trims the new first page and journals the change.
    bool overwriteFront(uint64_t before, IRecordable& scratch);
    Page* loadPageToOverwrite(uint32_t number);
    // The track's first page as the registry names it.
    Page* firstPage();
    void deleteTrack(FreePageList& freed);
    void dropItemsBefore(Page& page, uint64_t before, IRecordable& scratch);
    void removeAfter(Page& page, uint64_t after, IRecordable& scratch);
    // Loads `number` for writing into `page` and checks it belongs to this track with
    // `checksum` (TarsilException 4 otherwise).
    void loadChecked(Page& page, uint32_t number, uint32_t checksum);
    void logLine(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    Storage* storage() const { return _storage; }
    Page* otherPage();
    void setCurrent(Page* page) { _current = page; }
    void setCursor(const PagePosition& cursor) { _cursor = cursor; }

    // The size of the element at `offset` of a page (the item size, or for variable-size
    // tracks the header read there); 0 when it does not fit the page.
    uint32_t elementSizeAt(Page& page, uint32_t offset);
    // Reads the element at `offset` when its header lies inside the page.
    bool readAt(Page& page, uint32_t offset, IRecordable& element);
    // A reader's line for the storage log (stored by the writing thread).
    void readerLog(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    Page* overwritePage() { return _overwritePage.get(); }

private:
    void unloadAll();
    // Makes `page` hold `number` for reading; false when it is no page of the file or
    // its header is not one of this track's.
    bool holdForReading(Page& page, uint32_t number);
    bool hasSaneHeader(Page& page);
    // Follows `page`'s next (previous) link, checking that the linked page carries it;
    // pages without elements are passed over. False, with `overwritten` set when the
    // chain no longer holds, or at the track's end.
    bool followNext(Page& page, bool& overwritten);
    bool followPrevious(Page& page, bool& overwritten);
    // The offset of the element before `offset` in a page; false when there is none.
    bool offsetBefore(Page& page, uint32_t offset, uint32_t& before);

    PageType _type;
    uint32_t _itemSize;
    std::unique_ptr<Page> _pages[2];
    std::unique_ptr<Page> _overwritePage;
    Page* _current = nullptr;
    Storage* _storage = nullptr;
    PagePosition _cursor;
    std::unique_ptr<Page> _readPage;
    PagePosition _readCursor;
    bool _write = false;
    bool _open = false;
};
