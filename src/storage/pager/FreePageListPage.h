#pragma once

#include <cstdint>

#include "storage/pager/CircularPage.h"
#include "storage/pager/FreePageListItem.h"

// The on-disk free-page list: one "FREE" page whose ring holds FreePageListItems.
// Changes mark the blocks they touch; the caller writes them back (syncSaveDirty).
class FreePageListPage : public CircularPage {
public:
    // appendInterval modes: which ends of an existing item may grow to take the pages.
    static constexpr int ExtendDown = 1;  // an item starting at last + 1
    static constexpr int ExtendUp = 2;    // an item ending at first - 1

    using CircularPage::CircularPage;
    ~FreePageListPage() override = default;

    // Index of the item holding `page`, or -1.
    int find(uint32_t page);
    bool contains(uint32_t page) { return find(page) >= 0; }
    // Takes `page` off the list; a page not on it changes nothing.
    void remove(uint32_t page);
    void appendInterval(uint32_t first, uint32_t last, int mode = ExtendDown | ExtendUp);

private:
    FreePageListItem itemAt(uint32_t index);
};
