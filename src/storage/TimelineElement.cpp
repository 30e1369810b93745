#include "storage/TimelineElement.h"

void TimelineElement::readFrom(Buffer& buffer, int position) {
    _mediaType = buffer.getShortAt(position);
    _syncIndex = buffer.getShortAt(position + 2);
    _syncKeyID = buffer.getIntAt(position + 4);
    _channelMask = BitMask32(buffer.getIntAt(position + 8));
    _linkedChannelMask = BitMask32(buffer.getIntAt(position + 12));
    _time.readFrom(buffer, position + 16);
    _mediaID = buffer.getLongAt(position + 24);
    _mediaPosition.readFrom(buffer, position + 32);
    _previousPosition.readFrom(buffer, position + 40);
    _mediaSize = buffer.getIntAt(position + 48);
}

void TimelineElement::writeTo(Buffer& buffer, int position) const {
    buffer.putShortAt(position, _mediaType);
    buffer.putShortAt(position + 2, _syncIndex);
    buffer.putIntAt(position + 4, _syncKeyID);
    buffer.putIntAt(position + 8, _channelMask.value());
    buffer.putIntAt(position + 12, _linkedChannelMask.value());
    _time.writeTo(buffer, position + 16);
    buffer.putLongAt(position + 24, _mediaID);
    _mediaPosition.writeTo(buffer, position + 32);
    _previousPosition.writeTo(buffer, position + 40);
    buffer.putIntAt(position + 48, _mediaSize);
    buffer.fillAt(position + 52, 0, 12);
}
