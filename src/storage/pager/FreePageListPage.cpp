#include "storage/pager/FreePageListPage.h"

#include <vector>

FreePageListItem FreePageListPage::itemAt(uint32_t index) {
    FreePageListItem item;
    readItem(index, item);
    return item;
}

int FreePageListPage::find(uint32_t page) {
    uint32_t count = itemCount();
    for (uint32_t i = 0; i < count; ++i) {
        if (itemAt(i).contains(page)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void FreePageListPage::remove(uint32_t page) {
    int found = find(page);
    if (found < 0) {
        return;
    }
    uint32_t index = static_cast<uint32_t>(found);
    uint32_t count = itemCount();
    FreePageListItem item = itemAt(index);
    if (item.first() == item.last()) {
        if (index == 0) {
            popFront();
        } else if (index == count - 1) {
            popBack();
        } else {
            std::vector<FreePageListItem> kept;
            for (uint32_t i = 0; i < count; ++i) {
                if (i != index) {
                    kept.push_back(itemAt(i));
                }
            }
            clear();
            for (const FreePageListItem& other : kept) {
                push(other);
            }
        }
    } else if (page == item.first()) {
        writeItem(index, FreePageListItem(page + 1, item.last()));
    } else if (page == item.last()) {
        writeItem(index, FreePageListItem(item.first(), page - 1));
    } else {
        writeItem(index, FreePageListItem(item.first(), page - 1));
        push(FreePageListItem(page + 1, item.last()));
    }
}

void FreePageListPage::appendInterval(uint32_t first, uint32_t last, int mode) {
    uint32_t count = itemCount();
    for (uint32_t i = 0; i < count; ++i) {
        FreePageListItem item = itemAt(i);
        if ((mode & ExtendDown) && item.first() == last + 1) {
            writeItem(i, FreePageListItem(first, item.last()));
            return;
        }
        if ((mode & ExtendUp) && item.last() + 1 == first) {
            writeItem(i, FreePageListItem(item.first(), last));
            return;
        }
    }
    push(FreePageListItem(first, last));
}
