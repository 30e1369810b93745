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

private:
    void unloadAll();

    PageType _type;
    uint32_t _itemSize;
    std::unique_ptr<Page> _pages[2];
    std::unique_ptr<Page> _overwritePage;
    Page* _current = nullptr;
    Storage* _storage = nullptr;
    PagePosition _cursor;
    bool _write = false;
    bool _open = false;
};
