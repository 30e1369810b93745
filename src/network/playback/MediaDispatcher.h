#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "base/thread/Condition.h"
#include "base/thread/ISingleton.h"
#include "base/thread/LoopingThread.h"
#include "base/thread/Mutex.h"

class BlockingVariableLengthQueue;
class MediaDispatcherClient;

// The process-wide threads ("MediaDispatcher") that deliver frames, stop reports and
// posted callbacks to the playback clients' listeners, decoupled from the network thread.
// Each client has its own media queue; a producer pushes a record into it and tells the
// dispatcher, which takes one record at a time and hands it to the client's dispatch(),
// and goes on with the records that arrived meanwhile, up to BurstRecords.
// A client is served by one thread at a time, so its records are delivered one at a time
// and in the order they were queued; clients with records waiting take turns.
//
// A listener that takes long (a storage write on a slow disk) must not hold up the other
// clients: while every dispatcher thread is busy and another client has records waiting,
// one more thread is started for it. Threads are kept until the dispatcher stops, so
// there are never more than the clients that were busy at once.
//
// Threads: registerClient/unregisterClient/recordQueued from any thread. unregisterClient
// waits for a dispatch to that client in progress on another dispatcher thread to end
// (not when called from inside that dispatch), so a client may be destroyed once it
// returns. The dispatcher mutex guards the client table and the first pop of a delivery;
// it is never held during dispatch().
class MediaDispatcher : public ISingleton, public LoopingThread {
public:
    static constexpr int WorkBufferSize = 262144;
    // Records delivered to one client in a row, beyond the first, before it takes its turn
    // again behind the other clients.
    static constexpr int BurstRecords = 256;

    // Created and started on first use.
    static MediaDispatcher& instance();
    // Stops every dispatcher thread if the dispatcher was ever started (at process exit).
    static void shutdown();

    void registerClient(MediaDispatcherClient* client, BlockingVariableLengthQueue* queue);
    void unregisterClient(MediaDispatcherClient* client);
    // A record was pushed into the client's queue.
    void recordQueued(MediaDispatcherClient* client);

    void runOnce() override;
    void onStart() override;
    // Stops the threads and closes every registered queue.
    void stop() override;

    // Records delivered so far (for tests and benchmarks).
    uint64_t delivered() const { return _delivered.load(); }
    // Whether the calling thread is one of the dispatcher's.
    static bool isDispatchThread();
    // Dispatcher threads started so far.
    int threadCount();

    // For tests: runs on the dispatching thread after a record of `client` was taken from
    // its queue and before the client gets it, so a test can hold delivery at that point.
    // Empty to remove. Set it while no record is being delivered.
    using DeliverHook = std::function<void(MediaDispatcherClient& client)>;
    void setHookBeforeDeliver(DeliverHook hook);

private:
    class Helper : public LoopingThread {
    public:
        explicit Helper(MediaDispatcher& owner) : LoopingThread("MediaDispatcher"), _owner(owner) {}
        void onStart() override;
        void runOnce() override;

    private:
        MediaDispatcher& _owner;
        std::vector<uint8_t> _work = std::vector<uint8_t>(WorkBufferSize);
    };

    struct Entry {
        BlockingVariableLengthQueue* queue = nullptr;
        int pending = 0;     // records announced and not yet taken
        bool busy = false;   // a thread is delivering one of its records
        bool ready = false;  // waiting in _ready for a thread
    };

    MediaDispatcher();
    // Takes the next client with records waiting and delivers one of them, using `work`
    // as the buffer the record is popped into.
    void serveOne(std::vector<uint8_t>& work);
    void deliver(MediaDispatcherClient& client, uint8_t* data, int length);
    int deliverBurst(MediaDispatcherClient& client, BlockingVariableLengthQueue& queue, std::vector<uint8_t>& work);
    bool goesOnWithBurst() const;
    // The delivery to `client` ended, after `takenInBurst` records beyond the first.
    void endDelivery(MediaDispatcherClient* client, int takenInBurst);
    // Under the mutex: makes sure a thread will take what waits in _ready.
    void wakeOrAddThread();
    // Under the mutex: queues the client for a thread unless it is served or queued.
    void makeReady(MediaDispatcherClient* client, Entry& entry);
    bool isBusyElsewhere(MediaDispatcherClient* client) const;

    Mutex _mutex;
    Condition _readyChanged{_mutex};
    Condition _dispatchEnded{_mutex};
    std::map<MediaDispatcherClient*, Entry> _clients;
    std::deque<MediaDispatcherClient*> _ready;
    int _idle = 0;  // threads waiting for a client and not yet woken
    std::vector<std::unique_ptr<Helper>> _helpers;
    // Clients being delivered to, with the delivering thread (a client that was
    // unregistered meanwhile stays here until its delivery ends).
    std::vector<std::pair<MediaDispatcherClient*, uint32_t>> _dispatching;
    std::vector<uint8_t> _work;  // this thread's
    std::atomic<uint64_t> _delivered{0};
    std::atomic<int> _unregistering{0};
    DeliverHook _hookBeforeDeliver;
    std::atomic<bool> _hasHook{false};
};
