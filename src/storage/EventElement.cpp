#include "storage/EventElement.h"

void EventElement::readFrom(Buffer& buffer, int position) {
    _eventType = buffer.getByteAt(position);
    _eventParam = buffer.getByteAt(position + 1);
    _channelMask = BitMask32(buffer.getIntAt(position + 4));
    _mediaID = buffer.getLongAt(position + 8);
    _time.readFrom(buffer, position + 16);
    _timelinePosition.readFrom(buffer, position + 24);
    _sectionID = buffer.getIntAt(position + 32);
}

void EventElement::writeTo(Buffer& buffer, int position) const {
    buffer.putByteAt(position, _eventType);
    buffer.putByteAt(position + 1, _eventParam);
    buffer.putShortAt(position + 2, 0);
    buffer.putIntAt(position + 4, _channelMask.value());
    buffer.putLongAt(position + 8, _mediaID);
    _time.writeTo(buffer, position + 16);
    _timelinePosition.writeTo(buffer, position + 24);
    buffer.putIntAt(position + 32, _sectionID);
    buffer.fillAt(position + 36, 0, 28);
}
