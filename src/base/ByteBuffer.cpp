#include "base/ByteBuffer.h"

#include <cstring>
#include <new>
#include <utility>

namespace {

uint8_t* allocateZeroed(int capacity) {
    auto* data = new (std::nothrow) uint8_t[static_cast<size_t>(capacity)]();
    if (data == nullptr) {
        throw ByteBufferException(ByteBufferException::OutOfMemory);
    }
    return data;
}

// Puts the cursor back where it was when an absolute access is done, also on a throw.
class PositionRestorer {
public:
    PositionRestorer(int& position, int saved) : _position(position), _saved(saved) {}
    ~PositionRestorer() { _position = _saved; }
    PositionRestorer(const PositionRestorer&) = delete;
    PositionRestorer& operator=(const PositionRestorer&) = delete;

private:
    int& _position;
    int _saved;
};

}  // namespace

ByteBuffer::ByteBuffer() = default;

ByteBuffer::ByteBuffer(int capacity) {
    if (capacity < 0) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    adopt(allocateZeroed(capacity), capacity, false);
}

ByteBuffer::ByteBuffer(int capacity, void* data) {
    if (capacity < 0) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    adopt(data, capacity, true);
}

ByteBuffer::ByteBuffer(void* data, int offset, int length) {
    if (offset < 0 || length < 0 || offset > length) {
        throw ByteBufferException(ByteBufferException::IndexOutOfBounds);
    }
    adopt(static_cast<uint8_t*>(data) + offset, length - offset, true);
}

ByteBuffer::~ByteBuffer() { release(); }

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept { *this = std::move(other); }

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
        release();
        _wrapped = std::exchange(other._wrapped, true);
        _order = std::exchange(other._order, HostByteOrder);
        _capacity = std::exchange(other._capacity, 0);
        _position = std::exchange(other._position, 0);
        _limit = std::exchange(other._limit, 0);
        _mark = std::exchange(other._mark, -1);
        _data = std::exchange(other._data, nullptr);
    }
    return *this;
}

void ByteBuffer::wrap(void* data, int length, int offset) {
    if (offset < 0 || offset >= length) {
        throw ByteBufferException(ByteBufferException::IndexOutOfBounds);
    }
    release();
    adopt(static_cast<uint8_t*>(data) + offset, length - offset, true);
}

void ByteBuffer::adopt(void* data, int capacity, bool wrapped) {
    _data = static_cast<uint8_t*>(data);
    _wrapped = wrapped;
    _capacity = capacity;
    _position = 0;
    _limit = capacity;
    _mark = -1;
    _order = HostByteOrder;
}

void ByteBuffer::release() {
    if (!_wrapped) {
        delete[] _data;
    }
    _data = nullptr;
    _wrapped = true;
}

void ByteBuffer::reallocate(int newCapacity) {
    if (newCapacity < 0) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    uint8_t* data = allocateZeroed(newCapacity);
    int kept = _limit < newCapacity ? _limit : newCapacity;
    if (kept > 0) {
        std::memcpy(data, _data, static_cast<size_t>(kept));
    }
    release();
    _data = data;
    _wrapped = false;
    _capacity = newCapacity;
    _limit = newCapacity;
    if (_position > _limit) {
        _position = _limit;
    }
    if (_mark > _position) {
        _mark = -1;
    }
}

void ByteBuffer::setPosition(int position) {
    if (position < 0 || position > _limit) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    _position = position;
    if (_mark > _position) {
        _mark = -1;
    }
}

void ByteBuffer::setLimit(int limit) {
    if (limit < _position || limit > _capacity) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    _limit = limit;
}

void ByteBuffer::skip(int n) {
    int64_t target = int64_t{_position} + n;
    if (target < 0 || target > _limit) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    setPosition(static_cast<int>(target));
}

void ByteBuffer::reset() {
    if (_mark < 0) {
        throw ByteBufferException(ByteBufferException::InvalidMark);
    }
    _position = _mark;
}

void ByteBuffer::clear() {
    _position = 0;
    _limit = _capacity;
    _mark = -1;
}

void ByteBuffer::flip() {
    _limit = _position;
    _position = 0;
    _mark = -1;
}

void ByteBuffer::requireRoom(int length) const {
    if (length > remaining()) {
        throw ByteBufferException(ByteBufferException::Overflow);
    }
}

void ByteBuffer::requireData(int length) const {
    if (length > remaining()) {
        throw ByteBufferException(ByteBufferException::Underflow);
    }
}

void ByteBuffer::put(ByteBuffer& src) {
    if (&src == this) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    int n = src.remaining();
    requireRoom(n);
    if (n > 0) {
        std::memcpy(_data + _position, src._data + src._position, static_cast<size_t>(n));
    }
    _position += n;
    src._position += n;
}

void ByteBuffer::put(const void* bytes, int offset, int length) {
    if (offset < 0 || length < 0) {
        throw ByteBufferException(ByteBufferException::IndexOutOfBounds);
    }
    requireRoom(length);
    if (length > 0) {
        std::memcpy(_data + _position, static_cast<const uint8_t*>(bytes) + offset, static_cast<size_t>(length));
    }
    _position += length;
}

void ByteBuffer::put(const void* bytes, int length) { put(bytes, 0, length); }

void ByteBuffer::putAt(int index, uint8_t value) {
    if (index < 0 || index >= _capacity) {
        throw ByteBufferException(ByteBufferException::IndexOutOfBounds);
    }
    _data[index] = value;
}

void ByteBuffer::put(uint8_t value) {
    requireRoom(1);
    _data[_position++] = value;
}

void ByteBuffer::putShortAt(int index, uint16_t value) {
    if (index < 0 || index > _limit) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    PositionRestorer restore(_position, _position);
    _position = index;
    putShort(value);
}

void ByteBuffer::putShort(uint16_t value) {
    requireRoom(2);
    value = toOrder(_order, value);
    std::memcpy(_data + _position, &value, 2);
    _position += 2;
}

void ByteBuffer::putIntAt(int index, uint32_t value) {
    if (index < 0 || index > _limit) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    PositionRestorer restore(_position, _position);
    _position = index;
    putInt(value);
}

void ByteBuffer::putInt(uint32_t value) {
    requireRoom(4);
    value = toOrder(_order, value);
    std::memcpy(_data + _position, &value, 4);
    _position += 4;
}

void ByteBuffer::putLong(uint64_t value) {
    requireRoom(8);
    value = toOrder(_order, value);
    std::memcpy(_data + _position, &value, 8);
    _position += 8;
}

void ByteBuffer::putBool(bool value) { put(static_cast<uint8_t>(value ? 0xFF : 0x00)); }

void ByteBuffer::putString(const char* s) {
    // A longer text would not survive its 16-bit length; refuse it rather than send a
    // string the reader cannot find the end of.
    size_t length = s == nullptr ? SIZE_MAX : std::strlen(s);
    if (length > 0xFFFF) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    putShort(static_cast<uint16_t>(length));
    put(s, static_cast<int>(length) + 1);
}

void ByteBuffer::get(void* dst, int offset, int length) {
    if (offset < 0 || length < 0) {
        throw ByteBufferException(ByteBufferException::IndexOutOfBounds);
    }
    requireData(length);
    if (length > 0) {
        std::memcpy(static_cast<uint8_t*>(dst) + offset, _data + _position, static_cast<size_t>(length));
    }
    _position += length;
}

void ByteBuffer::get(void* dst, int length) { get(dst, 0, length); }

uint8_t ByteBuffer::get() {
    requireData(1);
    return _data[_position++];
}

uint8_t ByteBuffer::getAt(int index) {
    if (index < 0 || index >= _limit) {
        throw ByteBufferException(ByteBufferException::IndexOutOfBounds);
    }
    return _data[index];
}

uint16_t ByteBuffer::getShort() {
    requireData(2);
    uint16_t value;
    std::memcpy(&value, _data + _position, 2);
    _position += 2;
    return toOrder(_order, value);
}

uint32_t ByteBuffer::getInt() {
    requireData(4);
    uint32_t value;
    std::memcpy(&value, _data + _position, 4);
    _position += 4;
    return toOrder(_order, value);
}

uint64_t ByteBuffer::getLong() {
    requireData(8);
    uint64_t value;
    std::memcpy(&value, _data + _position, 8);
    _position += 8;
    return toOrder(_order, value);
}

uint16_t ByteBuffer::getShortAt(int index) {
    if (index < 0 || index >= _limit) {
        throw ByteBufferException(ByteBufferException::IndexOutOfBounds);
    }
    PositionRestorer restore(_position, _position);
    _position = index;
    return getShort();
}

uint32_t ByteBuffer::getIntAt(int index) {
    if (index < 0 || index >= _limit) {
        throw ByteBufferException(ByteBufferException::IndexOutOfBounds);
    }
    PositionRestorer restore(_position, _position);
    _position = index;
    return getInt();
}

const char* ByteBuffer::getString() {
    int length = getShort();
    const char* text = reinterpret_cast<const char*>(current());
    skip(length);
    if (get() != 0) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    return text;
}

void ByteBuffer::getString(char* dst, int size) {
    if (dst == nullptr || size <= 0) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    const char* text = getString();
    size_t n = strnlen(text, static_cast<size_t>(size - 1));
    std::memcpy(dst, text, n);
    dst[n] = '\0';
}
