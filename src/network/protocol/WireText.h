#pragma once

#include <cstring>

#include "base/ByteBuffer.h"

// Fixed-size text fields of the handshake messages: kept to the field's size minus one on
// both reading and writing, so that a written option is exactly as long as it announces.
namespace WireText {

inline void assign(char* field, int size, const char* text) {
    size_t length = text != nullptr ? std::strlen(text) : 0;
    if (length > static_cast<size_t>(size - 1)) {
        length = static_cast<size_t>(size - 1);
    }
    if (length > 0) {
        std::memcpy(field, text, length);
    }
    field[length] = '\0';
}

// Bytes a string takes on the wire: u16 length, the characters, NUL.
inline int wireLength(const char* field) {
    return 3 + static_cast<int>(std::strlen(field));
}

}  // namespace WireText
