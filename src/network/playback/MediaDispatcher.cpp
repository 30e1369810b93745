#include "network/playback/MediaDispatcher.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/Buffer.h"
#include "base/Exception.h"
#include "base/Trace.h"
#include "base/thread/BlockingVariableLengthQueue.h"
#include "network/playback/MediaDispatcherClient.h"

namespace {
std::atomic<MediaDispatcher*> theInstance{nullptr};
thread_local bool onDispatchThread = false;
}  // namespace

MediaDispatcher::MediaDispatcher() : LoopingThread("MediaDispatcher"), _work(WorkBufferSize) {}

MediaDispatcher& MediaDispatcher::instance() {
    return createOnce(theInstance, [] {
        auto* dispatcher = new MediaDispatcher();
        dispatcher->start();
        std::atexit(&MediaDispatcher::shutdown);
        return dispatcher;
    });
}

void MediaDispatcher::shutdown() {
    MediaDispatcher* dispatcher = theInstance.load();
    if (dispatcher == nullptr || dispatcher->isFinished()) {
        return;
    }
    dispatcher->stop();
    dispatcher->join();
    std::vector<Helper*> helpers;
    {
        // No thread is added once the stop was asked for.
        std::lock_guard<Mutex> guard(dispatcher->_mutex);
        for (auto& helper : dispatcher->_helpers) {
            helpers.push_back(helper.get());
        }
    }
    for (Helper* helper : helpers) {
        helper->join();
    }
}

bool MediaDispatcher::isDispatchThread() {
    return onDispatchThread;
}

int MediaDispatcher::threadCount() {
    std::lock_guard<Mutex> guard(_mutex);
    return 1 + static_cast<int>(_helpers.size());
}

void MediaDispatcher::setHookBeforeDeliver(DeliverHook hook) {
    std::lock_guard<Mutex> guard(_mutex);
    _hasHook = static_cast<bool>(hook);
    _hookBeforeDeliver = std::move(hook);
}

void MediaDispatcher::registerClient(MediaDispatcherClient* client, BlockingVariableLengthQueue* queue) {
    std::lock_guard<Mutex> guard(_mutex);
    Entry entry;
    entry.queue = queue;
    _clients[client] = entry;
}

bool MediaDispatcher::isBusyElsewhere(MediaDispatcherClient* client) const {
    uint32_t self = Thread::currentThreadId();
    return std::any_of(_dispatching.begin(), _dispatching.end(),
                       [&](const auto& entry) { return entry.first == client && entry.second != self; });
}

void MediaDispatcher::unregisterClient(MediaDispatcherClient* client) {
    ++_unregistering;  // ends bursts, so a delivery in progress ends soon
    std::lock_guard<Mutex> guard(_mutex);
    _clients.erase(client);
    _ready.erase(std::remove(_ready.begin(), _ready.end(), client), _ready.end());
    while (isBusyElsewhere(client)) {
        _dispatchEnded.wait();
    }
    --_unregistering;
}

void MediaDispatcher::recordQueued(MediaDispatcherClient* client) {
    std::lock_guard<Mutex> guard(_mutex);
    auto found = _clients.find(client);
    if (found == _clients.end()) {
        return;
    }
    ++found->second.pending;
    makeReady(client, found->second);
}

void MediaDispatcher::makeReady(MediaDispatcherClient* client, Entry& entry) {
    if (entry.busy || entry.ready || entry.pending <= 0) {
        return;
    }
    entry.ready = true;
    _ready.push_back(client);
    wakeOrAddThread();
}

void MediaDispatcher::wakeOrAddThread() {
    if (stopRequested()) {
        return;
    }
    if (_idle > 0) {
        --_idle;
        _readyChanged.notify();
        return;
    }
    // Every thread is delivering to some client, and one more client waits: it gets a
    // thread of its own rather than wait for a listener that may take its time.
    if (1 + _helpers.size() >= _clients.size()) {
        return;
    }
    try {
        auto helper = std::make_unique<Helper>(*this);
        helper->start();
        _helpers.push_back(std::move(helper));
    } catch (const Exception& e) {
        // The waiting client is served by the next thread that comes free.
        QF_TRACE("MediaDispatcher: no further thread: %s\n", messageOf(e));
    }
}

void MediaDispatcher::onStart() {
    onDispatchThread = true;
}

void MediaDispatcher::Helper::onStart() {
    onDispatchThread = true;
}

void MediaDispatcher::Helper::runOnce() {
    _owner.serveOne(_work);
}

void MediaDispatcher::runOnce() {
    serveOne(_work);
}

void MediaDispatcher::serveOne(std::vector<uint8_t>& work) {
    MediaDispatcherClient* client = nullptr;
    BlockingVariableLengthQueue* queue = nullptr;
    int length = 0;
    {
        std::lock_guard<Mutex> guard(_mutex);
        while (_ready.empty() && !stopRequested()) {
            ++_idle;
            _readyChanged.wait();
        }
        if (stopRequested()) {
            return;
        }
        client = _ready.front();
        _ready.pop_front();
        if (!_ready.empty()) {
            wakeOrAddThread();  // the others need not wait for this delivery
        }
        auto found = _clients.find(client);
        if (found == _clients.end()) {
            return;
        }
        Entry& entry = found->second;
        entry.ready = false;
        queue = entry.queue;
        // A record is popped whole into the work buffer, so it must hold the largest record
        // the queue can carry. Only this thread touches the buffer.
        size_t largest = static_cast<size_t>(queue->maxRecordLength());
        if (largest > work.size()) {
            work.resize(largest);
        }
        length = queue->tryPop(work.data(), 0);
        if (length <= 0) {
            entry.pending = 0;  // cleared since it was announced
            return;
        }
        --entry.pending;
        entry.busy = true;
        _dispatching.emplace_back(client, Thread::currentThreadId());
    }
    deliver(*client, work.data(), length);
    int more = deliverBurst(*client, *queue, work);
    endDelivery(client, more);
}

void MediaDispatcher::deliver(MediaDispatcherClient& client, uint8_t* data, int length) {
    client.recordTaken();
    if (_hasHook.load()) {
        DeliverHook hook;
        {
            std::lock_guard<Mutex> guard(_mutex);
            hook = _hookBeforeDeliver;
        }
        if (hook) {
            hook(client);
        }
    }
    Buffer record(data, length);
    try {
        client.dispatch(record);
    } catch (...) {
        // A listener's failure must not stop delivery to every other client.
    }
    ++_delivered;
}

// Records that arrived meanwhile go to the same client straight from its queue, without
// the dispatcher's mutex: while frames stream in, taking that mutex (which every producer
// takes for every record) twice per record would have the two threads wait on each other
// at every frame. The client stays marked busy, so no other thread serves it meanwhile; a
// burst ends when the queue is empty, after BurstRecords, or when a stop or an
// unregistration is under way.
int MediaDispatcher::deliverBurst(MediaDispatcherClient& client, BlockingVariableLengthQueue& queue,
                                  std::vector<uint8_t>& work) {
    int delivered = 0;
    while (delivered < BurstRecords && goesOnWithBurst()) {
        int bytes = queue.tryPopSeveral(work.data(), static_cast<int>(work.size()), BurstRecords - delivered);
        if (bytes <= 0) {
            break;
        }
        for (int at = 0; at < bytes;) {
            uint32_t length = 0;
            std::memcpy(&length, work.data() + at, sizeof length);
            at += static_cast<int>(sizeof length);
            // Taken from the queue: delivered unless the client is leaving, as records still
            // queued then are dropped too.
            if (goesOnWithBurst()) {
                deliver(client, work.data() + at, static_cast<int>(length));
            }
            at += static_cast<int>(length);
            ++delivered;
        }
    }
    return delivered;
}

bool MediaDispatcher::goesOnWithBurst() const {
    return !stopRequested() && _unregistering.load() == 0;
}

void MediaDispatcher::endDelivery(MediaDispatcherClient* client, int takenInBurst) {
    std::lock_guard<Mutex> guard(_mutex);
    auto mine = std::find(_dispatching.begin(), _dispatching.end(), std::make_pair(client, Thread::currentThreadId()));
    if (mine != _dispatching.end()) {
        _dispatching.erase(mine);
    }
    _dispatchEnded.notifyAll();
    auto found = _clients.find(client);
    if (found != _clients.end()) {
        Entry& entry = found->second;
        entry.busy = false;
        // A record taken in the burst may be announced only after this: the count then
        // stays too high for a while, which costs one empty pop, never a record left
        // unserved.
        entry.pending = std::max(0, entry.pending - takenInBurst);
        if (entry.pending > 0 && !entry.ready) {
            // This thread comes back for it (or for a client queued earlier, in which case
            // the next round wakes another thread for this one).
            entry.ready = true;
            _ready.push_back(client);
        }
    }
}

void MediaDispatcher::stop() {
    LoopingThread::stop();
    std::lock_guard<Mutex> guard(_mutex);
    for (auto& helper : _helpers) {
        helper->stop();
    }
    for (auto& entry : _clients) {
        entry.second.queue->close();
    }
    _readyChanged.notifyAll();
}
