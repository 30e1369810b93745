#include "storage/pager/FreePageListItem.h"

#include "base/Buffer.h"

void FreePageListItem::readFrom(Buffer& buffer, int position) {
    _first = buffer.getIntAt(position);
    _last = buffer.getIntAt(position + 4);
}

void FreePageListItem::readFrom(Buffer& buffer) {
    _first = buffer.getInt();
    _last = buffer.getInt();
}

void FreePageListItem::writeTo(Buffer& buffer, int position) const {
    buffer.putIntAt(position, _first);
    buffer.putIntAt(position + 4, _last);
}

void FreePageListItem::writeTo(Buffer& buffer) const {
    buffer.putInt(_first);
    buffer.putInt(_last);
}
