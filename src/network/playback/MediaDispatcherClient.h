#pragma once

#include <memory>

#include "base/thread/BlockingVariableLengthQueue.h"

class Buffer;

// Something that has records delivered on the media dispatcher thread: it owns a media
// queue registered with the MediaDispatcher, queues records into it from any thread, and
// gets each record back, in queue order, in dispatch().
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

    // Called on the media dispatcher thread with one record, wrapped at its first byte.
    virtual void dispatch(Buffer& record) = 0;

protected:
    void openMediaQueue(int capacityBytes);
    // Unregisters from the dispatcher and closes the queue: blocked and later pushes fail.
    void closeMediaQueue();
    void destroyMediaQueue();
    // Queues the pieces as one record, waiting while the queue is full. False when the
    // queue is closed (or was never opened).
    bool queueRecord(const void* const pieces[], const int lengths[], int n);
    // Drops every queued record except those keepsAcrossClear() marks.
    void clearMediaQueue();
    BlockingVariableLengthQueue* mediaQueue() const { return _queue.get(); }

protected:
    // Whether a queued record must survive clearMediaQueue(): stale media may be dropped,
    // but a callback its owner posted (a flush, a roll-back) must still run.
    virtual bool keepsAcrossClear(const uint8_t* /*record*/, int /*length*/) const { return false; }

private:
    std::unique_ptr<BlockingVariableLengthQueue> _queue;
};
