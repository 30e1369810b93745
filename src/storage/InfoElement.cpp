#include "storage/InfoElement.h"

#include <cstring>

namespace {

void copyText(char* field, const char* text) {
    std::memset(field, 0, InfoElement::TextCapacity);
    if (text != nullptr) {
        std::strncpy(field, text, InfoElement::TextCapacity - 1);
    }
}

}  // namespace

void InfoElement::setKey(const char* key) {
    copyText(_key, key);
}

void InfoElement::setValue(const char* value) {
    copyText(_value, value);
}

void InfoElement::readFrom(Buffer& buffer, int position) {
    std::memcpy(_key, buffer.pointerAt(position, TextCapacity), TextCapacity);
    std::memcpy(_value, buffer.pointerAt(position + TextCapacity, TextCapacity), TextCapacity);
    _key[TextCapacity - 1] = '\0';
    _value[TextCapacity - 1] = '\0';
}

void InfoElement::writeTo(Buffer& buffer, int position) const {
    buffer.putAt(position, _key, TextCapacity);
    buffer.putAt(position + TextCapacity, _value, TextCapacity);
}
