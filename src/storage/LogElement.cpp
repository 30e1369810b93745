#include "storage/LogElement.h"

#include <cstring>

void LogElement::setText(const char* text, int length) {
    std::memset(_text, 0, sizeof _text);
    if (length > TextCapacity - 1) {
        length = TextCapacity - 1;
    }
    if (text != nullptr && length > 0) {
        std::memcpy(_text, text, static_cast<size_t>(length));
    }
}

void LogElement::readFrom(Buffer& buffer, int position) {
    _sequence = buffer.getIntAt(position);
    _time.readFrom(buffer, position + 4);
    _level = buffer.getShortAt(position + 12);
    _part = buffer.getShortAt(position + 14);
    std::memcpy(_text, buffer.pointerAt(position + 16, TextCapacity), TextCapacity);
    _text[TextCapacity - 1] = '\0';
}

void LogElement::writeTo(Buffer& buffer, int position) const {
    buffer.putIntAt(position, _sequence);
    _time.writeTo(buffer, position + 4);
    buffer.putShortAt(position + 12, _level);
    buffer.putShortAt(position + 14, _part);
    buffer.putAt(position + 16, _text, TextCapacity);
}
