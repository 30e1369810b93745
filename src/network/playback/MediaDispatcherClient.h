#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/thread/BlockingVariableLengthQueue.h"
#include "base/thread/Condition.h"
#include "base/thread/Mutex.h"

class Buffer;

// Something that has records delivered on a media dispatcher thread: it owns a media
// queue registered with the MediaDispatcher, queues records into it from any thread, and
// gets each record back, in queue order, in dispatch().
//
// Two kinds of producers. Owner threads may wait for room (queueRecord). The network
// thread must never wait, or one slow listener would stop every connection: it uses
// queueRecordWithoutWaiting, which puts a record that does not fit aside, tells the
// subclass to hold its source (holdSource: read nothing more from that connection), and
// lets the record in, in its turn, once the dispatcher has taken enough out
// (releaseSource). At most one record is put aside; records queued while it waits come
// after it.
//
// Lifetime: openMediaQueue() before the first record, closeMediaQueue() (which releases
// producers blocked on a full queue and waits for a dispatch in progress to end) before
// destroyMediaQueue(). No record may be queued after destroyMediaQueue().
class MediaDispatcherClient {
public:
    MediaDispatcherClient() = default;
    virtual ~MediaDispatcherClient();
    MediaDispatcherClient(const MediaDispatcherClient&) = delete;
    MediaDispatcherClient& operator=(const MediaDispatcherClient&) = delete;

    // Called on a media dispatcher thread with one record, wrapped at its first byte.
    virtual void dispatch(Buffer& record) = 0;

    // Called by the dispatcher, on its thread, when a record of this client has been taken
    // from the queue (before it is dispatched): lets a record put aside in.
    void recordTaken();

protected:
    void openMediaQueue(int capacityBytes);
    // Unregisters from the dispatcher and closes the queue: blocked and later pushes fail.
    void closeMediaQueue();
    void destroyMediaQueue();
    // Queues the pieces as one record, waiting while the queue is full. False when the
    // queue is closed (or was never opened).
    bool queueRecord(const void* const pieces[], const int lengths[], int n);
    // Queues the pieces as one record without ever waiting for the dispatcher (see above).
    // False when the queue is closed (or was never opened).
    bool queueRecordWithoutWaiting(const void* const pieces[], const int lengths[], int n);
    // Drops every queued record (and one put aside) except those keepsAcrossClear() marks.
    void clearMediaQueue();
    BlockingVariableLengthQueue* mediaQueue() const { return _queue.get(); }

    // Whether a queued record must survive clearMediaQueue(): stale media may be dropped,
    // but not what the listener must hear regardless.
    virtual bool keepsAcrossClear(const uint8_t* /*record*/, int /*length*/) const { return false; }
    // A record had to be put aside: stop producing until releaseSource(). Both are called
    // in the order they happen, with the client's own lock held: they must not queue
    // records or wait for the dispatcher.
    virtual void holdSource() {}
    virtual void releaseSource() {}

private:
    // Under _asideMutex: the record put aside went in, or was dropped.
    void endAside();
    static bool hasDrainedToResume(BlockingVariableLengthQueue& queue);

    std::unique_ptr<BlockingVariableLengthQueue> _queue;
    Mutex _asideMutex;
    Condition _asideGone{_asideMutex};
    std::vector<uint8_t> _aside;  // the record put aside; capacity kept for the next one
    std::atomic<bool> _hasAside{false};
};
