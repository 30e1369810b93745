#include "base/Time.h"

#include "base/Buffer.h"
#include "base/IFormatable.h"

namespace {

uint32_t pack(int quarterHours, int hour, int minute, int second) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(quarterHours)) << 24) |
           ((static_cast<uint32_t>(hour) & 0xFF) << 16) | ((static_cast<uint32_t>(minute) & 0xFF) << 8) |
           (static_cast<uint32_t>(second) & 0xFF);
}

}  // namespace

Time::Time(int hour, int minute, int second, int utcOffsetSeconds)
    : _value(pack(utcOffsetSeconds / 900, hour, minute, second)) {}

void Time::toString(IFormatable& out) const {
    out.format("%02d:%02d:%02d", hour(), minute(), second());
}

void Time::readFrom(Buffer& buffer, int position) {
    int q = static_cast<int8_t>(buffer.getByteAt(position));
    int h = buffer.getByteAt(position + 1);
    int m = buffer.getByteAt(position + 2);
    int s = buffer.getByteAt(position + 3);
    _value = pack(q, h, m, s);
}

void Time::readFrom(Buffer& buffer) {
    int q = static_cast<int8_t>(buffer.getByte());
    int h = buffer.getByte();
    int m = buffer.getByte();
    int s = buffer.getByte();
    _value = pack(q, h, m, s);
}

void Time::writeTo(Buffer& buffer, int position) const {
    buffer.putByteAt(position, static_cast<uint8_t>(_value >> 24));
    buffer.putByteAt(position + 1, static_cast<uint8_t>(hour()));
    buffer.putByteAt(position + 2, static_cast<uint8_t>(minute()));
    buffer.putByteAt(position + 3, static_cast<uint8_t>(second()));
}

void Time::writeTo(Buffer& buffer) const {
    buffer.putByte(static_cast<uint8_t>(_value >> 24));
    buffer.putByte(static_cast<uint8_t>(hour()));
    buffer.putByte(static_cast<uint8_t>(minute()));
    buffer.putByte(static_cast<uint8_t>(second()));
}
