#include "network/playback/MediaDispatcher.h"

#include <algorithm>
#include <cstdlib>

#include "base/Buffer.h"
#include "base/thread/BlockingVariableLengthQueue.h"
#include "network/playback/MediaDispatcherClient.h"

namespace {
std::atomic<MediaDispatcher*> theInstance{nullptr};
}

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
    if (dispatcher != nullptr && !dispatcher->isFinished()) {
        dispatcher->stop();
        dispatcher->join();
    }
}

void MediaDispatcher::registerClient(MediaDispatcherClient* client, BlockingVariableLengthQueue* queue) {
    std::lock_guard<Mutex> guard(_mutex);
    _queues[client] = queue;
}

void MediaDispatcher::unregisterClient(MediaDispatcherClient* client) {
    std::lock_guard<Mutex> guard(_mutex);
    _queues.erase(client);
    if (Thread::currentThreadId() == id()) {
        return;
    }
    while (_dispatching == client) {
        _dispatchEnded.wait();
    }
}

void MediaDispatcher::recordQueued(MediaDispatcherClient* client) {
    std::lock_guard<Mutex> guard(_mutex);
    _pending.push_back(client);
    _pendingChanged.notify();
}

void MediaDispatcher::runOnce() {
    MediaDispatcherClient* client = nullptr;
    int length = 0;
    {
        std::lock_guard<Mutex> guard(_mutex);
        while (_pending.empty() && !stopRequested()) {
            _pendingChanged.wait();
        }
        if (stopRequested()) {
            return;
        }
        client = _pending.front();
        _pending.pop_front();
        auto found = _queues.find(client);
        if (found == _queues.end()) {
            return;  // unregistered meanwhile: its records are gone with it
        }
        // A record is popped whole into the work buffer, so it must hold the largest record
        // the queue can carry. Only this thread touches the buffer.
        size_t largest = static_cast<size_t>(found->second->maxRecordLength());
        if (largest > _work.size()) {
            _work.resize(largest);
        }
        length = found->second->tryPop(_work.data(), 0);
        if (length <= 0) {
            return;  // cleared since it was queued
        }
        _dispatching = client;
    }
    Buffer record(_work.data(), length);
    try {
        client->dispatch(record);
    } catch (...) {
        // A listener's failure must not stop delivery to every other client.
    }
    ++_delivered;
    {
        std::lock_guard<Mutex> guard(_mutex);
        _dispatching = nullptr;
        _dispatchEnded.notifyAll();
    }
    Thread::yield();
}

void MediaDispatcher::stop() {
    LoopingThread::stop();
    std::lock_guard<Mutex> guard(_mutex);
    for (auto& entry : _queues) {
        entry.second->close();
    }
    _pendingChanged.notifyAll();
}
