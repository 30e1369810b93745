#include "network/session/SendQueue.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int LengthBytes = 4;
}

SendQueue::SendQueue(int capacityBytes)
    : _capacity(capacityBytes), _wrapEnd(capacityBytes), _storage(static_cast<size_t>(capacityBytes)) {}

int SendQueue::freeSpace() const {
    if (_count == 0) {
        return _capacity - LengthBytes;
    }
    int block = _head < _tail ? std::max(_capacity - _tail, _head) : _head - _tail;
    return block >= LengthBytes + 1 ? block - LengthBytes : 0;
}

bool SendQueue::push(const void* data, int length) {
    if (length <= 0 || length > freeSpace()) {
        return false;
    }
    if (_count > 0 && _head < _tail && _capacity - _tail - LengthBytes < length) {
        // Not enough room before the end: the record goes to the start, reading wraps here.
        _wrapEnd = _tail;
        _tail = 0;
    }
    std::memcpy(&_storage[static_cast<size_t>(_tail)], &length, LengthBytes);
    std::memcpy(&_storage[static_cast<size_t>(_tail + LengthBytes)], data, static_cast<size_t>(length));
    _tail += length + LengthBytes;
    if (_tail == _capacity) {
        _tail = 0;
    }
    ++_count;
    return true;
}

const uint8_t* SendQueue::frontData() const {
    return &_storage[static_cast<size_t>(_head + LengthBytes)];
}

int SendQueue::frontLength() const {
    int length = 0;
    std::memcpy(&length, &_storage[static_cast<size_t>(_head)], LengthBytes);
    return length;
}

void SendQueue::popFront() {
    if (_count == 0) {
        return;
    }
    _head += frontLength() + LengthBytes;
    if (_head == _wrapEnd) {
        _head = 0;
        _wrapEnd = _capacity;
    }
    if (--_count == 0) {
        clear();
    }
}

void SendQueue::clear() {
    _count = 0;
    _head = 0;
    _tail = 0;
    _wrapEnd = _capacity;
}
