#include "network/playback/MediaDispatcherClient.h"

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
}

void MediaDispatcherClient::destroyMediaQueue() {
    _queue.reset();
}

bool MediaDispatcherClient::queueRecord(const void* const pieces[], const int lengths[], int n) {
    BlockingVariableLengthQueue* queue = _queue.get();
    if (queue == nullptr || !queue->push(pieces, lengths, n)) {
        return false;
    }
    MediaDispatcher::instance().recordQueued(this);
    return true;
}

void MediaDispatcherClient::clearMediaQueue() {
    if (_queue != nullptr) {
        _queue->retainIf([this](const uint8_t* record, int length) { return keepsAcrossClear(record, length); });
    }
}
