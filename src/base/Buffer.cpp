#include "base/Buffer.h"

#include <cassert>
#include <cstring>

Buffer::Buffer(void* data, int capacity, ByteOrder order)
    : _data(static_cast<uint8_t*>(data)), _capacity(capacity), _position(0), _order(order) {}

void Buffer::assertInside([[maybe_unused]] int position, [[maybe_unused]] int length) const {
    assert(position >= 0 && length >= 0 && int64_t{position} + length <= _capacity);
}

void Buffer::wrap(void* data, int capacity, ByteOrder order) {
    _data = static_cast<uint8_t*>(data);
    _capacity = capacity;
    _position = 0;
    _order = order;
}

uint8_t* Buffer::pointerAt(int position, int length) {
    assertInside(position, length);
    return _data + position;
}

uint8_t* Buffer::read(int length) {
    assertInside(_position, length);
    uint8_t* p = _data + _position;
    _position += length;
    return p;
}

void Buffer::putAt(int position, const void* src, int length) {
    assertInside(position, length);
    if (length > 0) {
        std::memcpy(_data + position, src, static_cast<size_t>(length));
    }
}

void Buffer::put(const void* src, int length) {
    putAt(_position, src, length);
    _position += length;
}

void Buffer::fillAt(int position, int byte, int length) {
    assertInside(position, length);
    if (length > 0) {
        std::memset(_data + position, byte, static_cast<size_t>(length));
    }
}

void Buffer::fill(int byte, int length) {
    fillAt(_position, byte, length);
    _position += length;
}

namespace {

template <typename T>
T loadFrom(const uint8_t* p, ByteOrder order) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return toOrder(order, v);
}

}  // namespace

uint8_t Buffer::getByte() { return *read(1); }
uint16_t Buffer::getShort() { return loadFrom<uint16_t>(read(2), _order); }
uint32_t Buffer::getInt() { return loadFrom<uint32_t>(read(4), _order); }
uint64_t Buffer::getLong() { return loadFrom<uint64_t>(read(8), _order); }
uint8_t Buffer::getByteAt(int position) { return *pointerAt(position, 1); }
uint16_t Buffer::getShortAt(int position) { return loadFrom<uint16_t>(pointerAt(position, 2), _order); }
uint32_t Buffer::getIntAt(int position) { return loadFrom<uint32_t>(pointerAt(position, 4), _order); }
uint64_t Buffer::getLongAt(int position) { return loadFrom<uint64_t>(pointerAt(position, 8), _order); }

void Buffer::putByte(uint8_t v) { put(&v, 1); }

void Buffer::putShort(uint16_t v) {
    v = toOrder(_order, v);
    put(&v, 2);
}

void Buffer::putInt(uint32_t v) {
    v = toOrder(_order, v);
    put(&v, 4);
}

void Buffer::putLong(uint64_t v) {
    v = toOrder(_order, v);
    put(&v, 8);
}

void Buffer::putByteAt(int position, uint8_t v) { putAt(position, &v, 1); }

void Buffer::putShortAt(int position, uint16_t v) {
    v = toOrder(_order, v);
    putAt(position, &v, 2);
}

void Buffer::putIntAt(int position, uint32_t v) {
    v = toOrder(_order, v);
    putAt(position, &v, 4);
}

void Buffer::putLongAt(int position, uint64_t v) {
    v = toOrder(_order, v);
    putAt(position, &v, 8);
}
