#include "base/ByteBufferException.h"

const char* ByteBufferException::what() const noexcept {
    switch (_reason) {
        case Overflow: return "ByteBuffer overflow";
        case Underflow: return "ByteBuffer underflow";
        case IllegalArgument: return "ByteBuffer illegal argument";
        case IndexOutOfBounds: return "ByteBuffer index out of bounds";
        case InvalidMark: return "ByteBuffer invalid mark";
        case OutOfMemory: return "ByteBuffer out of memory";
        default: return "ByteBuffer error";
    }
}
