#include "network/playback/MediaDispatcherClient.h"

#include <cstring>
#include <mutex>

#include "network/playback/MediaDispatcher.h"

MediaDispatcherClient::~MediaDispatcherClient() {
    if (_queue != nullptr) {
        closeMediaQueue();
        destroyMediaQueue();
    }
}

void MediaDispatcherClient::openMediaQueue(int capacityBytes) {
    if (_queue != nullptr) {
        return;
    }
    _queue = std::make_unique<BlockingVariableLengthQueue>(capacityBytes);
    MediaDispatcher::instance().registerClient(this, _queue.get());
}

void MediaDispatcherClient::closeMediaQueue() {
    if (_queue == nullptr) {
        return;
    }
    MediaDispatcher::instance().unregisterClient(this);
    _queue->close();
    std::lock_guard<Mutex> guard(_asideMutex);
    if (_hasAside.load()) {
        endAside();
    }
    _asideGone.notifyAll();
}

void MediaDispatcherClient::destroyMediaQueue() {
    _queue.reset();
}

bool MediaDispatcherClient::queueRecord(const void* const pieces[], const int lengths[], int n) {
    BlockingVariableLengthQueue* queue = _queue.get();
    if (queue == nullptr) {
        return false;
    }
    if (_hasAside.load()) {
        // The record put aside was queued before this one and goes in first.
        std::lock_guard<Mutex> guard(_asideMutex);
        while (_hasAside.load() && !queue->isClosed()) {
            _asideGone.wait();
        }
    }
    if (!queue->push(pieces, lengths, n)) {
        return false;
    }
    MediaDispatcher::instance().recordQueued(this);
    return true;
}

bool MediaDispatcherClient::queueRecordWithoutWaiting(const void* const pieces[], const int lengths[], int n) {
    BlockingVariableLengthQueue* queue = _queue.get();
    if (queue == nullptr) {
        return false;
    }
    // Nothing aside (only this producer puts records aside): the record goes straight in
    // when it fits, without the aside lock.
    if (!_hasAside.load() && queue->tryPush(pieces, lengths, n, 0)) {
        MediaDispatcher::instance().recordQueued(this);
        return true;
    }
    std::lock_guard<Mutex> guard(_asideMutex);
    // A held source produces nothing, so a second record cannot normally arrive while one
    // is aside; should one come anyway, it waits for its turn rather than overtake.
    while (_hasAside.load() && !queue->isClosed()) {
        _asideGone.wait();
    }
    if (queue->tryPush(pieces, lengths, n, 0)) {
        MediaDispatcher::instance().recordQueued(this);
        return true;
    }
    if (queue->isClosed()) {
        return false;
    }
    _aside.clear();
    for (int i = 0; i < n; ++i) {
        const auto* bytes = static_cast<const uint8_t*>(pieces[i]);
        _aside.insert(_aside.end(), bytes, bytes + lengths[i]);
    }
    holdSource();
    _hasAside.store(true);
    // The dispatcher may have taken the last record between the failed push and the mark,
    // without seeing the mark: now that the mark is visible, look for room once more.
    const void* aside[] = {_aside.data()};
    const int asideLength[] = {static_cast<int>(_aside.size())};
    if (queue->tryPush(aside, asideLength, 1, 0)) {
        MediaDispatcher::instance().recordQueued(this);
        endAside();
    }
    return true;
}

void MediaDispatcherClient::recordTaken() {
    BlockingVariableLengthQueue* queue = _queue.get();
    // A producer that found the queue full marks its record aside before it looks for
    // room once more, so one of the two always sees the room this record left.
    if (queue == nullptr || !_hasAside.load() || !hasDrainedToResume(*queue)) {
        return;
    }
    std::lock_guard<Mutex> guard(_asideMutex);
    if (!_hasAside.load()) {
        return;
    }
    const void* pieces[] = {_aside.data()};
    const int lengths[] = {static_cast<int>(_aside.size())};
    // Room for it is certain once the queue is empty: every record is at most one
    // packet, and the queue holds the largest.
    if (queue->tryPush(pieces, lengths, 1, 0)) {
        MediaDispatcher::instance().recordQueued(this);
        endAside();
    }
}

// A held source resumes only once the queue has drained to half its capacity. Resuming
// as soon as the record put aside fits would, while the listener is the slower side, wake
// the network thread for every record taken and have it receive one frame per round.
bool MediaDispatcherClient::hasDrainedToResume(BlockingVariableLengthQueue& queue) {
    return queue.count() == 0 || queue.freeSpace() >= queue.capacity() / 2;
}

void MediaDispatcherClient::clearMediaQueue() {
    if (_queue == nullptr) {
        return;
    }
    std::lock_guard<Mutex> guard(_asideMutex);
    _queue->retainIf([this](const uint8_t* record, int length) { return keepsAcrossClear(record, length); });
    if (_hasAside.load() && !keepsAcrossClear(_aside.data(), static_cast<int>(_aside.size()))) {
        endAside();
    }
}

void MediaDispatcherClient::endAside() {
    _hasAside.store(false);
    _asideGone.notifyAll();
    releaseSource();
}
