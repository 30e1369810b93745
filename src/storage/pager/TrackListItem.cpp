#include "storage/pager/TrackListItem.h"

#include "base/Buffer.h"

TrackListItem::TrackListItem(const PageType& type, BitMask32 flags, uint32_t page, uint32_t checksum)
    : _type(type),
      _flags(flags),
      _firstPage(page),
      _lastPage(page),
      _firstPageChecksum(checksum),
      _lastPageChecksum(checksum) {}

void TrackListItem::setFirst(uint32_t page, uint32_t checksum) {
    _firstPage = page;
    _firstPageChecksum = checksum;
}

void TrackListItem::setLast(uint32_t page, uint32_t checksum) {
    _lastPage = page;
    _lastPageChecksum = checksum;
}

void TrackListItem::readFrom(Buffer& buffer, int position) {
    _type.readFrom(buffer, position);
    _flags = BitMask32(buffer.getIntAt(position + 4));
    _firstPage = buffer.getIntAt(position + 8);
    _lastPage = buffer.getIntAt(position + 12);
    _firstPageChecksum = buffer.getIntAt(position + 16);
    _lastPageChecksum = buffer.getIntAt(position + 20);
}

void TrackListItem::readFrom(Buffer& buffer) {
    readFrom(buffer, buffer.position());
    buffer.skip(serializedSize());
}

void TrackListItem::writeTo(Buffer& buffer, int position) const {
    _type.writeTo(buffer, position);
    buffer.putIntAt(position + 4, _flags.value());
    buffer.putIntAt(position + 8, _firstPage);
    buffer.putIntAt(position + 12, _lastPage);
    buffer.putIntAt(position + 16, _firstPageChecksum);
    buffer.putIntAt(position + 20, _lastPageChecksum);
}

void TrackListItem::writeTo(Buffer& buffer) const {
    writeTo(buffer, buffer.position());
    buffer.skip(serializedSize());
}
