#pragma once

#include <cstdint>

#include "base/ByteBufferException.h"
#include "base/ByteOrder.h"

// A checked byte buffer with capacity, limit, position, an optional mark and a byte order
// (host order unless set); network packets are built on it. Relative puts and gets move
// the position and raise ByteBufferException when the room or the data between position
// and limit does not suffice; 0 <= mark <= position <= limit <= capacity holds while a
// mark is set. The storage is either allocated (and freed) by the buffer or wrapped
// caller memory that the buffer never frees. Not thread-safe; one owner at a time.
class ByteBuffer {
public:
    // Empty: no storage, capacity 0.
    ByteBuffer();
    // Allocates `capacity` zeroed bytes.
    explicit ByteBuffer(int capacity);
    // Wraps `capacity` bytes of caller memory.
    ByteBuffer(int capacity, void* data);
    // Wraps caller memory of `length` bytes from `offset` on.
    ByteBuffer(void* data, int offset, int length);
    virtual ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;

    // Re-wraps caller memory of `length` bytes from `offset` on (0 <= offset < length).
    void wrap(void* data, int length, int offset);

    int position() const { return _position; }
    void setPosition(int position);
    int limit() const { return _limit; }
    void setLimit(int limit);
    int capacity() const { return _capacity; }
    int remaining() const { return _limit - _position; }
    void skip(int n);
    void mark() { _mark = _position; }
    void reset();
    void clear();
    void flip();
    ByteOrder order() const { return _order; }
    void setOrder(ByteOrder order) { _order = order; }
    uint8_t* current() { return _data + _position; }
    uint8_t* data() { return _data; }
    const uint8_t* data() const { return _data; }

    // Copies src's remaining bytes; src's position moves to its limit.
    virtual void put(ByteBuffer& src);
    virtual void put(const void* bytes, int offset, int length);
    virtual void put(const void* bytes, int length);
    // Stores one byte at an absolute index inside the storage; the position stays.
    virtual void putAt(int index, uint8_t value);
    virtual void put(uint8_t value);
    // Absolute puts: the value is written at `index` (0..limit) and the position stays.
    virtual void putShortAt(int index, uint16_t value);
    virtual void putShort(uint16_t value);
    virtual void putIntAt(int index, uint32_t value);
    virtual void putInt(uint32_t value);
    virtual void putLong(uint64_t value);
    // One byte: 0xFF for true, 0 for false.
    virtual void putBool(bool value);
    // A 16-bit length, the characters and a terminating NUL. At most 65535 characters.
    virtual void putString(const char* s);

    void get(void* dst, int offset, int length);
    void get(void* dst, int length);
    uint8_t get();
    uint8_t getAt(int index);
    uint16_t getShort();
    uint32_t getInt();
    uint64_t getLong();
    uint16_t getShortAt(int index);
    uint32_t getIntAt(int index);
    // Any non-zero byte is true.
    bool getBool() { return get() != 0; }
    // A string written by putString, in place: the pointer stays valid while the buffer's
    // storage does. A missing terminator raises IllegalArgument.
    const char* getString();
    // Copies the string into dst, cut to size - 1 characters and always terminated.
    void getString(char* dst, int size);

protected:
    // Replaces the storage by a zeroed allocation of `newCapacity` bytes holding the first
    // `limit` bytes of the old one; the buffer owns it from then on and the limit becomes
    // the new capacity. The position is kept.
    void reallocate(int newCapacity);

private:
    void adopt(void* data, int capacity, bool wrapped);
    void release();
    void requireRoom(int length) const;
    void requireData(int length) const;

    bool _wrapped = true;
    ByteOrder _order = HostByteOrder;
    int _capacity = 0;
    int _position = 0;
    int _limit = 0;
    int _mark = -1;
    uint8_t* _data = nullptr;
};
