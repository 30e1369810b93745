#include "storage/RecordingTableElement.h"

void RecordingTableElement::readFrom(Buffer& buffer, int position) {
    _time.readFrom(buffer, position);
    _channelMask = BitMask32(buffer.getIntAt(position + 8));
    _sectionID = buffer.getIntAt(position + 12);
    _position.readFrom(buffer, position + 16);
    _mediaID = buffer.getLongAt(position + 24);
    _prevPosition.readFrom(buffer, position + 32);
    _prevMask = BitMask32(buffer.getIntAt(position + 40));
}

void RecordingTableElement::writeTo(Buffer& buffer, int position) const {
    _time.writeTo(buffer, position);
    buffer.putIntAt(position + 8, _channelMask.value());
    buffer.putIntAt(position + 12, _sectionID);
    _position.writeTo(buffer, position + 16);
    buffer.putLongAt(position + 24, _mediaID);
    _prevPosition.writeTo(buffer, position + 32);
    buffer.putIntAt(position + 40, _prevMask.value());
    buffer.fillAt(position + 44, 0, 20);
}
