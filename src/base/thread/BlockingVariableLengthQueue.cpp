#include "base/thread/BlockingVariableLengthQueue.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <mutex>

#include "base/Trace.h"

namespace {

constexpr int LengthBytes = 4;

int64_t monotonicMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The record length of `n` pieces, or -1 when a length is negative or the sum overflows.
int64_t totalLength(const int lengths[], int n) {
    if (n < 0) {
        return -1;
    }
    int64_t total = 0;
    for (int i = 0; i < n; ++i) {
        if (lengths[i] < 0) {
            return -1;
        }
        total += lengths[i];
    }
    return total <= std::numeric_limits<int>::max() ? total : -1;
}

}  // namespace

BlockingVariableLengthQueue::BlockingVariableLengthQueue(int capacityBytes, Listener* listener, int maxRecords)
    : _capacity(std::max(capacityBytes, LengthBytes)),
      _listener(listener),
      _maxRecords(maxRecords),
      _storage(static_cast<size_t>(_capacity)),
      _wrapEnd(_capacity) {}

bool BlockingVariableLengthQueue::push(const void* data, int length) {
    const void* pieces[] = {data};
    const int lengths[] = {length};
    return pushRecord(pieces, lengths, 1, Forever);
}

bool BlockingVariableLengthQueue::push(const void* const pieces[], const int lengths[], int n) {
    return pushRecord(pieces, lengths, n, Forever);
}

bool BlockingVariableLengthQueue::tryPush(const void* data, int length, int timeoutMs) {
    const void* pieces[] = {data};
    const int lengths[] = {length};
    return pushRecord(pieces, lengths, 1, std::max(timeoutMs, 0));
}

bool BlockingVariableLengthQueue::tryPush(const void* const pieces[], const int lengths[], int n, int timeoutMs) {
    return pushRecord(pieces, lengths, n, std::max(timeoutMs, 0));
}

int BlockingVariableLengthQueue::pop(void* out) {
    return popRecord(out, Forever);
}

int BlockingVariableLengthQueue::tryPop(void* out, int timeoutMs) {
    return popRecord(out, std::max(timeoutMs, 0));
}

int BlockingVariableLengthQueue::tryPopSeveral(uint8_t* out, int room, int maxRecords) {
    std::lock_guard<Mutex> guard(_mutex);
    int stored = 0;
    for (int taken = 0; !_closed && _count > 0 && taken < maxRecords; ++taken) {
        uint32_t length = 0;
        std::memcpy(&length, _storage.data() + _head, LengthBytes);
        if (static_cast<int64_t>(length) + LengthBytes > room - stored) {
            break;
        }
        std::memcpy(out + stored, &length, LengthBytes);
        uint8_t* record = out + stored + LengthBytes;
        readRecord(record);
        if (_listener != nullptr) {
            _listener->popped(record, static_cast<int>(length));
        }
        stored += LengthBytes + static_cast<int>(length);
    }
    if (stored > 0) {
        _notFull.notifyAll();
    }
    return stored;
}

bool BlockingVariableLengthQueue::pushRecord(const void* const pieces[], const int lengths[], int n,
                                             int timeoutMs) {
    int64_t total = totalLength(lengths, n);
    if (total < 0) {
        QF_TRACE("BlockingVariableLengthQueue::push : invalid record length");
        return false;
    }
    int64_t deadline = deadlineIn(timeoutMs);
    std::lock_guard<Mutex> guard(_mutex);
    while (!_closed && !canTake(static_cast<int>(total))) {
        QF_TRACE("BlockingVariableLengthQueue::push : queue full");
        if (!waitUntil(_notFull, deadline)) {
            return false;
        }
    }
    if (_closed) {
        return false;
    }
    writeRecord(pieces, lengths, n, static_cast<int>(total));
    if (_listener != nullptr) {
        _listener->pushed(pieces, lengths, n);
    }
    _notEmpty.notify();
    return true;
}

int BlockingVariableLengthQueue::popRecord(void* out, int timeoutMs) {
    int64_t deadline = deadlineIn(timeoutMs);
    std::lock_guard<Mutex> guard(_mutex);
    while (!_closed && _count == 0) {
        if (!waitUntil(_notEmpty, deadline)) {
            return 0;
        }
    }
    if (_closed) {
        return 0;
    }
    int length = readRecord(out);
    if (_listener != nullptr) {
        _listener->popped(out, length);
    }
    // Producers wait for room of different sizes: wake them all, so the one whose record
    // now fits is not left asleep behind one whose record still does not.
    _notFull.notifyAll();
    return length;
}

// No clock reading for the attempts that do not wait (the dispatcher's, at every record).
int64_t BlockingVariableLengthQueue::deadlineIn(int timeoutMs) {
    if (timeoutMs == Forever) {
        return Forever;
    }
    return timeoutMs == 0 ? Immediately : monotonicMilliseconds() + timeoutMs;
}

bool BlockingVariableLengthQueue::waitUntil(Condition& condition, int64_t deadlineMs) {
    if (deadlineMs == Immediately) {
        return false;
    }
    if (deadlineMs == Forever) {
        condition.wait();
        return true;
    }
    int64_t remaining = deadlineMs - monotonicMilliseconds();
    if (remaining <= 0) {
        return false;
    }
    condition.waitFor(static_cast<int>(std::min<int64_t>(remaining, std::numeric_limits<int>::max())));
    return true;
}

void BlockingVariableLengthQueue::clear() {
    std::lock_guard<Mutex> guard(_mutex);
    resetRing();
    if (_listener != nullptr) {
        _listener->cleared();
    }
    _notFull.notifyAll();
}

void BlockingVariableLengthQueue::retainIf(const std::function<bool(const uint8_t* data, int length)>& keep) {
    std::lock_guard<Mutex> guard(_mutex);
    std::vector<std::vector<uint8_t>> kept;
    std::vector<uint8_t> record(static_cast<size_t>(maxRecordLength()));
    while (_count > 0) {
        int length = readRecord(record.data());
        if (keep(record.data(), length)) {
            kept.emplace_back(record.begin(), record.begin() + length);
        }
    }
    resetRing();
    if (_listener != nullptr) {
        _listener->cleared();
    }
    // The kept records fitted before, in this order, so they fit again.
    for (const std::vector<uint8_t>& each : kept) {
        const void* pieces[] = {each.data()};
        const int lengths[] = {static_cast<int>(each.size())};
        writeRecord(pieces, lengths, 1, lengths[0]);
        if (_listener != nullptr) {
            _listener->pushed(pieces, lengths, 1);
        }
    }
    _notFull.notifyAll();
}

void BlockingVariableLengthQueue::close() {
    std::lock_guard<Mutex> guard(_mutex);
    _closed = true;
    // Every blocked producer and consumer must return, not just one of each.
    _notEmpty.notifyAll();
    _notFull.notifyAll();
}

bool BlockingVariableLengthQueue::isClosed() {
    std::lock_guard<Mutex> guard(_mutex);
    return _closed;
}

int BlockingVariableLengthQueue::count() {
    std::lock_guard<Mutex> guard(_mutex);
    return _count;
}

int BlockingVariableLengthQueue::freeSpace() {
    std::lock_guard<Mutex> guard(_mutex);
    return ringFreeSpace();
}

int BlockingVariableLengthQueue::waitingProducers() {
    std::lock_guard<Mutex> guard(_mutex);
    return _notFull.waiterCount();
}

int BlockingVariableLengthQueue::waitingConsumers() {
    std::lock_guard<Mutex> guard(_mutex);
    return _notEmpty.waiterCount();
}

bool BlockingVariableLengthQueue::canTake(int length) const {
    if (_maxRecords > 0 && _count >= _maxRecords) {
        return false;
    }
    // A ring with no free space may still have up to 4 bytes left, too few for even the
    // length word of an empty record; such a record must wait like any other.
    int free = ringFreeSpace();
    return free > 0 && length <= free;
}

// The largest record that fits as one piece: at the tail, or at offset 0 when the tail is
// ahead of the head and the writer may start again there.
int BlockingVariableLengthQueue::ringFreeSpace() const {
    if (_count == 0) {
        return _capacity - LengthBytes;
    }
    int bytes = _head < _tail ? std::max(_capacity - _tail, _head) : _head - _tail;
    return bytes >= LengthBytes + 1 ? bytes - LengthBytes : 0;
}

void BlockingVariableLengthQueue::writeRecord(const void* const pieces[], const int lengths[], int n, int total) {
    if (_head < _tail && _capacity - _tail - LengthBytes < total) {
        _wrapEnd = _tail;
        _tail = 0;
    }
    uint8_t* at = _storage.data() + _tail;
    uint32_t length = static_cast<uint32_t>(total);
    std::memcpy(at, &length, LengthBytes);
    at += LengthBytes;
    for (int i = 0; i < n; ++i) {
        if (lengths[i] > 0) {
            std::memcpy(at, pieces[i], static_cast<size_t>(lengths[i]));
            at += lengths[i];
        }
    }
    _tail += total + LengthBytes;
    if (_tail == _capacity) {
        _tail = 0;
    }
    ++_count;
}

int BlockingVariableLengthQueue::readRecord(void* out) {
    uint32_t length = 0;
    std::memcpy(&length, _storage.data() + _head, LengthBytes);
    if (length > 0) {
        std::memcpy(out, _storage.data() + _head + LengthBytes, length);
    }
    _head += static_cast<int>(length) + LengthBytes;
    if (_head == _wrapEnd) {
        _head = 0;
        _wrapEnd = _capacity;
    }
    if (--_count == 0) {
        resetRing();
    }
    return static_cast<int>(length);
}

void BlockingVariableLengthQueue::resetRing() {
    _count = 0;
    _head = 0;
    _tail = 0;
    _wrapEnd = _capacity;
}
