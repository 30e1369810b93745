#include "storage/pager/CircularPage.h"

#include "base/TarsilException.h"
#include "storage/pager/SuperBlock.h"

uint32_t CircularPage::slack() {
    return superBlock().pageSize() - capacity() * itemSize() - IndexData;
}

uint32_t CircularPage::itemOffset(uint32_t index) {
    uint32_t size = itemSize();
    uint32_t slots = capacity();
    if (slots == 0) {
        return IndexData;
    }
    uint32_t first = (firstItemOffset() - IndexData) / size;
    return static_cast<uint32_t>((static_cast<uint64_t>(first) + index) % slots) * size + IndexData;
}

uint32_t CircularPage::dataEnd() {
    return lastItemOffset();
}

uint32_t CircularPage::nextOffset(uint32_t offset) {
    uint32_t size = itemSize();
    if (static_cast<uint64_t>(offset) + size + slack() < superBlock().pageSize()) {
        return offset + size;
    }
    return IndexData;
}

bool CircularPage::isConsistent() {
    uint32_t size = itemSize();
    uint32_t slots = capacity();
    auto onSlot = [&](uint32_t offset) {
        return offset >= IndexData && offset < IndexData + slots * size && (offset - IndexData) % size == 0;
    };
    return size != 0 && itemCount() <= slots && onSlot(firstItemOffset()) && onSlot(lastItemOffset());
}

void CircularPage::push(const ISerializable& item) {
    if (isFull()) {
        // The ring would overwrite its own front item.
        throw TarsilException(QF_HERE, 1, "Not enough space");
    }
    uint32_t offset = lastItemOffset();
    item.writeTo(buffer(), static_cast<int>(offset));
    setLastItemOffset(nextOffset(offset));
    setItemCount(itemCount() + 1);
}

void CircularPage::front(ISerializable& item) {
    item.readFrom(buffer(), static_cast<int>(firstItemOffset()));
}

void CircularPage::popFront() {
    uint32_t count = itemCount();
    if (count == 0) {
        return;
    }
    if (count == 1) {
        resetHeader();
        return;
    }
    setFirstItemOffset(nextOffset(firstItemOffset()));
    setItemCount(count - 1);
}

void CircularPage::popBack() {
    uint32_t count = itemCount();
    if (count == 0) {
        return;
    }
    if (count == 1) {
        resetHeader();
        return;
    }
    setLastItemOffset(itemOffset(count - 1));
    setItemCount(count - 1);
}

void CircularPage::clear() {
    resetHeader();
}
