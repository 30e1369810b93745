#pragma once

#include <cstdint>
#include <memory>

#include "storage/pager/PageType.h"

class IRecordable;
class Page;
class Storage;

// Walks and trims the elements of one loaded track page, trusting nothing its header or
// its elements say: every element header must lie inside the page, and only a media or
// pre-event page's last element may run past the page end (its payload continues on the
// next page). The correction and the checker share it.
class PageElements {
public:
    PageElements(Storage& storage, const PageType& type);
    ~PageElements();

    // Media and pre-event elements carry a payload of their own length.
    bool isVariableSize() const { return _variable; }
    IRecordable& scratch() { return *_scratch; }

    // The offset just past the element at `offset` (it may lie beyond the page for a
    // payload that continues); 0 when its header does not fit the page.
    uint64_t endOf(Page& page, uint32_t offset);
    // Reads the page's last element into scratch(); false when it has none or it cannot
    // be reached by stepping from the first one as the header describes.
    bool readLast(Page& page, uint32_t& offset);
    // Whether the header's count, offsets and IDs agree with the elements as read.
    bool isConsistent(Page& page);
    // Whether the last element's payload runs past the page end.
    bool lastOverflows(Page& page);

    // Keeps the elements with IDs at or above `before`; the page becomes a first page.
    // False when none is (the page is left unchanged).
    bool keepFrom(Page& page, uint64_t before);
    // Keeps the elements with IDs up to `after` whose bytes end inside the page; the page
    // becomes a last page. Returns how many are kept.
    uint32_t keepUpTo(Page& page, uint64_t after);

private:
    Storage& _storage;
    PageType _type;
    bool _variable;
    std::unique_ptr<IRecordable> _scratch;
};
