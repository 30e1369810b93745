#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/thread/Condition.h"
#include "base/thread/Mutex.h"

// A bounded first-in first-out queue of variable-length byte records between threads,
// kept in one byte ring: each record is a 4-byte host-order length followed by its bytes,
// and never wraps around the end of the ring (the writer starts again at offset 0 early
// instead, and the reader follows). push() waits while the record does not fit (or the
// record limit is reached), pop() while the queue is empty; close() releases every waiting
// thread and makes both fail from then on. Records left in the queue at close() are
// abandoned.
//
// A record can be at most capacity - 4 bytes; pushing a larger one waits until close().
// A record of length 0 cannot be told from "closed" by pop(); producers do not push them.
// All operations may be called from any thread. The listener is called with the queue's
// mutex held and must not call back into the queue.
class BlockingVariableLengthQueue {
public:
    // Follows what passes through the queue (for accounting and tests).
    class Listener {
    public:
        virtual ~Listener() = default;
        // A record made of `n` pieces was added.
        virtual void pushed(const void* const pieces[], const int lengths[], int n) = 0;
        // The front record was taken; `data` is its copy in the caller's buffer.
        virtual void popped(const void* data, int length) = 0;
        virtual void cleared() = 0;
    };

    // `maxRecords` <= 0 means no limit on the number of records.
    BlockingVariableLengthQueue(int capacityBytes, Listener* listener = nullptr, int maxRecords = 0);
    BlockingVariableLengthQueue(const BlockingVariableLengthQueue&) = delete;
    BlockingVariableLengthQueue& operator=(const BlockingVariableLengthQueue&) = delete;

    // Adds one record, waiting for room. False when the queue is (or gets) closed.
    bool push(const void* data, int length);
    // Adds the `n` pieces back to back as one record.
    bool push(const void* const pieces[], const int lengths[], int n);
    // Like push() but gives up after `timeoutMs`; false on time-out or when closed.
    bool tryPush(const void* data, int length, int timeoutMs);
    bool tryPush(const void* const pieces[], const int lengths[], int n, int timeoutMs);

    // Takes the front record into `out` (room for maxRecordLength() bytes) and returns its
    // length, waiting while the queue is empty. 0 when the queue is closed.
    int pop(void* out);
    // Like pop() but gives up after `timeoutMs`; 0 on time-out or when closed.
    int tryPop(void* out, int timeoutMs);
    // Without waiting, takes front records, at most `maxRecords`, while each fits in what
    // is left of the `room` bytes at `out`, where each is stored as in the ring: its 4-byte
    // host-order length, then its bytes. Returns the bytes stored; 0 when the queue is
    // empty or closed or its front record does not fit. One locked step for them all, so
    // a consumer keeping up with a producer does not contend for the lock at every record.
    int tryPopSeveral(uint8_t* out, int room, int maxRecords);

    // Drops every record.
    void clear();
    // Drops every record for which `keep(data, length)` is false; the kept ones stay in
    // their order. Tells the listener `cleared()` and then `pushed()` for each kept record.
    void retainIf(const std::function<bool(const uint8_t* data, int length)>& keep);
    // Fails every waiting and future push and pop.
    void close();

    bool isClosed();
    int count();
    int capacity() const { return _capacity; }
    int maxRecordLength() const { return _capacity - 4; }
    // Bytes a record may have right now without waiting (the ring's free space).
    int freeSpace();
    // Threads blocked in push or pop right now; for diagnostics and tests.
    int waitingProducers();
    int waitingConsumers();

private:
    static constexpr int Forever = -1;
    static constexpr int Immediately = -2;  // a deadline that has passed already

    bool pushRecord(const void* const pieces[], const int lengths[], int n, int timeoutMs);
    int popRecord(void* out, int timeoutMs);
    static int64_t deadlineIn(int timeoutMs);
    // Waits on `condition` until the deadline; false when it has passed.
    bool waitUntil(Condition& condition, int64_t deadlineMs);
    bool canTake(int length) const;
    int ringFreeSpace() const;
    void writeRecord(const void* const pieces[], const int lengths[], int n, int total);
    int readRecord(void* out);
    void resetRing();

    const int _capacity;
    Listener* const _listener;
    const int _maxRecords;
    std::vector<uint8_t> _storage;
    int _wrapEnd;
    int _count = 0;
    int _head = 0;
    int _tail = 0;
    bool _closed = false;
    Mutex _mutex;
    Condition _notEmpty{_mutex};
    Condition _notFull{_mutex};
};
