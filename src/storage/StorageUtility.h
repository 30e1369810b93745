#pragma once

#include <cstdint>

#include "storage/PagePosition.h"
#include "storage/pager/PageType.h"

class IRecordable;
class Page;
class Storage;

// Loads track pages of one storage and accepts them only when they are what the track
// list or a neighbour's link says they are: the page type, the page checksum, and the
// superblock checksum of this format. Iterators, result sets and the recovery code
// share it. A page that fails is unloaded, logged with the storage's path, and reported
// as TarsilException 4 ("Storage corrupted"). Stateless apart from the pageTag of the
// last page it loaded; one per thread.
class StorageUtility {
public:
    explicit StorageUtility(Storage& storage) : _storage(storage) {}

    void loadPage(Page& page, const PageType& type, uint32_t number, uint32_t checksum, bool readOnly);
    // False when the storage has no track of the type.
    bool loadFirstPage(Page& page, const PageType& type, bool readOnly);
    bool loadLastPage(Page& page, const PageType& type, bool readOnly);
    // Follow a link of the loaded page; false when there is none. The linked page must
    // have the same type, the checksum the link names, and link back.
    bool loadPreviousPage(Page& page);
    bool loadNextPage(Page& page);

    // The first element of the track's first page, or the last of its last page (the
    // page before it when the last page holds no element yet). False when there is none.
    bool firstItem(const PageType& type, IRecordable& element);
    bool lastItem(const PageType& type, IRecordable& element);
    PagePosition firstPosition(const PageType& type);
    PagePosition lastPosition(const PageType& type);
    // The position after `position`: the next page's first element at the page's last
    // one; otherwise the offset advanced by `element`'s size as read there (given), or
    // by the page's item size.
    PagePosition positionAfter(const PageType& type, const PagePosition& position, IRecordable* element);
    // Keeps the first itemCount - n elements of a fixed-size page and clears its next link.
    void truncateLastItems(Page& page, IRecordable& scratch, int n);
    // True without a track of the type; otherwise whether its last page, read from the
    // file, has no element (TarsilException 4 when it is not the page the list names).
    bool isEmpty(const PageType& type);

    // The free pages the free-list page on disk names; unlike the allocator's count, also
    // for a read-only storage (which does not load its list). 0 when the list is unusable.
    uint64_t storedFreePageCount();

    uint32_t pageTag() const { return _pageTag; }

private:
    [[noreturn]] void corrupted(const char* where, uint32_t number);
    bool firstOrLast(const PageType& type, bool first, Page& page, PagePosition& position);

    Storage& _storage;
    uint32_t _pageTag = 0;
};
