#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <vector>

#include "base/thread/Condition.h"
#include "base/thread/ISingleton.h"
#include "base/thread/LoopingThread.h"
#include "base/thread/Mutex.h"

class BlockingVariableLengthQueue;
class MediaDispatcherClient;

// The process-wide thread ("MediaDispatcher") that delivers frames, stop reports and
// posted callbacks to the playback clients' listeners, decoupled from the network thread.
// Each client has its own media queue; a producer pushes a record into it and then names
// the client on the pending queue, and the thread takes one record per pending entry and
// hands it to the client's dispatch(). Records of one client are therefore delivered one
// at a time and in the order they were queued.
//
// Threads: registerClient/unregisterClient/recordQueued from any thread. unregisterClient
// waits for a dispatch to that client in progress on the dispatcher thread to end (unless
// called from that very thread), so a client may be destroyed once it returns. The
// dispatcher mutex guards the map and each pop; it is never held during dispatch().
class MediaDispatcher : public ISingleton, public LoopingThread {
public:
    static constexpr int WorkBufferSize = 262144;

    // Created and started on first use.
    static MediaDispatcher& instance();
    // Stops the thread if it was ever started (at process exit).
    static void shutdown();

    void registerClient(MediaDispatcherClient* client, BlockingVariableLengthQueue* queue);
    void unregisterClient(MediaDispatcherClient* client);
    // A record was pushed into the client's queue.
    void recordQueued(MediaDispatcherClient* client);

    void runOnce() override;
    // Stops the thread and closes every registered queue.
    void stop() override;

    // Records delivered so far (for tests and benchmarks).
    uint64_t delivered() const { return _delivered.load(); }

private:
    MediaDispatcher();

    Mutex _mutex;
    Condition _pendingChanged{_mutex};
    Condition _dispatchEnded{_mutex};
    std::map<MediaDispatcherClient*, BlockingVariableLengthQueue*> _queues;
    std::deque<MediaDispatcherClient*> _pending;
    MediaDispatcherClient* _dispatching = nullptr;
    std::vector<uint8_t> _work;
    std::atomic<uint64_t> _delivered{0};
};
