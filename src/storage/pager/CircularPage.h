#pragma once

#include "storage/pager/Page.h"

// A page whose fixed-size items form a ring in the data area: items are pushed at
// lastItemOffset (the next free slot) and taken from firstItemOffset, both wrapping to
// the data start when the next item would not fit. Used for the free-page list. Header
// values read from disk are checked before use (`isConsistent`); the ring operations
// never touch memory outside the page.
class CircularPage : public Page {
public:
    using Page::Page;
    ~CircularPage() override = default;

    uint32_t itemOffset(uint32_t index) override;
    uint32_t dataEnd() override;

    // The slot after `offset`: offset + itemSize, or the data start when that would not
    // leave room for a whole item.
    uint32_t nextOffset(uint32_t offset);
    void push(const ISerializable& item);
    void front(ISerializable& item);
    void popFront();
    void popBack();
    void clear();
    bool isFull() { return itemCount() >= capacity(); }
    // The header describes a ring this page can hold: a nonzero item size, a count
    // within capacity and both offsets on item slots.
    bool isConsistent();

private:
    uint32_t slack();
};
