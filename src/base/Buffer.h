#pragma once

#include <cstdint>

#include "base/ByteOrder.h"

// A fast read/write cursor over memory owned by someone else; storage pages, the
// superblock and element records serialize through it. It checks no bounds (debug
// builds assert them): callers size the memory. Multi-byte integers follow the
// buffer's byte order. Not thread-safe; one owner at a time.
class Buffer {
public:
    Buffer() = default;
    Buffer(void* data, int capacity, ByteOrder order = HostByteOrder);
    virtual ~Buffer() = default;
    Buffer(const Buffer&) = default;
    Buffer& operator=(const Buffer&) = default;

    // Re-initialises over other memory; the cursor goes back to 0.
    virtual void wrap(void* data, int capacity, ByteOrder order = HostByteOrder);
    // The byte at `position`; `length` is what the caller means to touch there.
    virtual uint8_t* pointerAt(int position, int length);
    // The byte at the cursor; the cursor then moves past `length` bytes.
    virtual uint8_t* read(int length);
    virtual void putAt(int position, const void* src, int length);
    virtual void put(const void* src, int length);
    virtual void fillAt(int position, int byte, int length);
    virtual void fill(int byte, int length);

    uint8_t getByte();
    uint16_t getShort();
    uint32_t getInt();
    uint64_t getLong();
    uint8_t getByteAt(int position);
    uint16_t getShortAt(int position);
    uint32_t getIntAt(int position);
    uint64_t getLongAt(int position);

    void putByte(uint8_t v);
    void putShort(uint16_t v);
    void putInt(uint32_t v);
    void putLong(uint64_t v);
    void putByteAt(int position, uint8_t v);
    void putShortAt(int position, uint16_t v);
    void putIntAt(int position, uint32_t v);
    void putLongAt(int position, uint64_t v);

    void skip(int n) { _position += n; }
    uint8_t* current() { return _data + _position; }

    uint8_t* data() const { return _data; }
    int capacity() const { return _capacity; }
    int position() const { return _position; }
    void setPosition(int position) { _position = position; }
    ByteOrder order() const { return _order; }
    void setOrder(ByteOrder order) { _order = order; }

protected:
    // Debug-build check that [position, position + length) lies inside the memory.
    void assertInside(int position, int length) const;

private:
    uint8_t* _data = nullptr;
    int _capacity = 0;
    int _position = 0;
    ByteOrder _order = HostByteOrder;
};
