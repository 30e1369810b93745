#include "storage/TextInElement.h"

#include <cstring>

void TextInElement::setText(const char* text) {
    std::memset(_text, 0, sizeof _text);
    if (text != nullptr) {
        std::strncpy(_text, text, TextCapacity - 1);
    }
}

void TextInElement::readFrom(Buffer& buffer, int position) {
    _mediaType = buffer.getShortAt(position);
    _syncIndex = buffer.getShortAt(position + 2);
    _syncKeyID = buffer.getIntAt(position + 4);
    _channelMask = BitMask32(buffer.getIntAt(position + 8));
    _mediaID = buffer.getLongAt(position + 16);
    _time.readFrom(buffer, position + 24);
    _position.readFrom(buffer, position + 32);
    _linkedChannelMask = BitMask32(buffer.getIntAt(position + 48));
    _sectionID = buffer.getIntAt(position + 52);
    _flags = buffer.getIntAt(position + 56);
    std::memcpy(_text, buffer.pointerAt(position + 60, TextCapacity), TextCapacity);
    _text[TextCapacity - 1] = '\0';  // a stored text without its NUL is cut, never overrun
}

void TextInElement::writeTo(Buffer& buffer, int position) const {
    buffer.putShortAt(position, _mediaType);
    buffer.putShortAt(position + 2, _syncIndex);
    buffer.putIntAt(position + 4, _syncKeyID);
    buffer.putIntAt(position + 8, _channelMask.value());
    buffer.putIntAt(position + 12, 0);
    buffer.putLongAt(position + 16, _mediaID);
    _time.writeTo(buffer, position + 24);
    _position.writeTo(buffer, position + 32);
    buffer.putLongAt(position + 40, 0);
    buffer.putIntAt(position + 48, _linkedChannelMask.value());
    buffer.putIntAt(position + 52, _sectionID);
    buffer.putIntAt(position + 56, _flags);
    buffer.putAt(position + 60, _text, TextCapacity);
    buffer.putIntAt(position + 124, 0);
}
