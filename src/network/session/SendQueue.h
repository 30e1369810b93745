#pragma once

#include <cstdint>
#include <vector>

// A ring of variable-length records (each a 4-byte host-order length and its bytes) holding
// the packets a connection still has to write, front first. A record is stored only when
// it fits completely, so a sender learns at once that a queue is full instead of blocking.
// Not thread-safe: the session context guards it with its lock.
class SendQueue {
public:
    explicit SendQueue(int capacityBytes);

    // Stores `length` bytes as one record; false when there is no room for all of them.
    bool push(const void* data, int length);
    bool isEmpty() const { return _count == 0; }
    int count() const { return _count; }
    // The largest record that would be stored now.
    int freeSpace() const;
    int capacity() const { return _capacity; }

    // The front record; only while not empty.
    const uint8_t* frontData() const;
    int frontLength() const;
    void popFront();
    void clear();

private:
    int _capacity;
    int _wrapEnd;
    int _count = 0;
    int _head = 0;
    int _tail = 0;
    std::vector<uint8_t> _storage;
};
