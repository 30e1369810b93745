#include "storage/MediaElement.h"

void MediaElement::readFrom(Buffer& buffer, int position) {
    _mediaType = buffer.getShortAt(position);
    _syncIndex = buffer.getShortAt(position + 2);
    _syncKeyID = buffer.getIntAt(position + 4);
    _channelMask = BitMask32(buffer.getIntAt(position + 8));
    _dataLength = buffer.getIntAt(position + 12);
    _mediaID = buffer.getLongAt(position + 16);
    _time.readFrom(buffer, position + 24);
    _flag1 = buffer.getShortAt(position + 32);
    _flag0 = buffer.getShortAt(position + 34);
    _param32 = buffer.getIntAt(position + 36);
    _param64 = buffer.getLongAt(position + 40);
    _linkedChannelMask = BitMask32(buffer.getIntAt(position + 48));
    _extraLength = buffer.getIntAt(position + 52);
}

void MediaElement::writeTo(Buffer& buffer, int position) const {
    buffer.putShortAt(position, _mediaType);
    buffer.putShortAt(position + 2, _syncIndex);
    buffer.putIntAt(position + 4, _syncKeyID);
    buffer.putIntAt(position + 8, _channelMask.value());
    buffer.putIntAt(position + 12, _dataLength);
    buffer.putLongAt(position + 16, _mediaID);
    _time.writeTo(buffer, position + 24);
    buffer.putShortAt(position + 32, _flag1);
    buffer.putShortAt(position + 34, _flag0);
    buffer.putIntAt(position + 36, _param32);
    buffer.putLongAt(position + 40, _param64);
    buffer.putIntAt(position + 48, _linkedChannelMask.value());
    buffer.putIntAt(position + 52, _extraLength);
    buffer.fillAt(position + 56, 0, 8);
}

void MediaElement::writeData(Buffer& buffer, int from, int count) const {
    if (count > 0 && _payload != nullptr) {
        buffer.put(_payload + from, count);
    } else if (count > 0) {
        buffer.fill(0, count);
    }
}
