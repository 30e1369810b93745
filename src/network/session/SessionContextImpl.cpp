#include "network/session/SessionContextImpl.h"

#include "base/ByteBuffer.h"
#include "base/Trace.h"
#include "network/session/SelectDispatcher.h"

SessionContextImpl::SessionContextImpl(SelectDispatcher* dispatcher) : _dispatcher(dispatcher) {}

SessionContextImpl::~SessionContextImpl() = default;

void SessionContextImpl::bind(NonBlockingSocketChannel* channel, NonBlockingServerSocketChannel* serverChannel,
                              Session* session) {
    std::lock_guard<Mutex> queues(_lock);
    std::lock_guard<std::mutex> guard(_mutex);
    _urgentQueue.clear();
    _normalQueue.clear();
    _writingPriority = -1;
    _writeOffset = 0;
    _channel = channel;
    _serverChannel = serverChannel;
    _session = session;
    _interest = 0;
    _closeReason = 0;
    _state = SessionState::DISCONNECTED;
    _closed.store(false, std::memory_order_release);
}

void SessionContextImpl::reset() {
    // Both locks, so that a send racing with the reset either lands before it (and is
    // dropped with the queue) or sees the context closed; never in a free slot.
    std::lock_guard<Mutex> queues(_lock);
    std::lock_guard<std::mutex> guard(_mutex);
    _urgentQueue.clear();
    _normalQueue.clear();
    _writingPriority = -1;
    _writeOffset = 0;
    _receiveBuffer = nullptr;
    _receiveComplete = false;
    _receiveCount = 0;
    _state = SessionState::DISCONNECTED;
    _interest = 0;
    _closeReason = 0;
    _connectAddress = SocketAddress();
    _localAddress = SocketAddress();
    _remoteAddress = SocketAddress();
    _channel = nullptr;
    _serverChannel = nullptr;
    _session = nullptr;
    _closed.store(true, std::memory_order_release);
}

void SessionContextImpl::listen() {
    changeInterest(AcceptWanted, 0);
    _dispatcher->acceptRequested(*this);
}

void SessionContextImpl::connect(const SocketAddress& address) {
    if (isClosed()) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(_mutex);
        _state = SessionState::CONNECTING;
        _connectAddress = address;
        _interest |= ConnectWanted;
    }
    _dispatcher->connectRequested(*this);
}

bool SessionContextImpl::close(int reason) {
    {
        std::lock_guard<std::mutex> guard(_mutex);
        if (isClosed() || (_interest & CloseWanted) != 0) {
            return false;
        }
        _state = SessionState::DISCONNECTING;
        _interest |= CloseWanted;
        _closeReason = reason;
    }
    _dispatcher->closeRequested(*this);
    return true;
}

bool SessionContextImpl::send(ByteBuffer& packet, Priority priority) {
    {
        std::lock_guard<Mutex> guard(_lock);
        // Once a close is asked for, nothing more is written: a packet queued now would be
        // reported as sent and silently dropped with the queue.
        if (isClosed() || (interest() & CloseWanted) != 0) {
            return false;
        }
        SendQueue& queue = queueOf(priority.value());
        if (!queue.push(packet.current(), packet.remaining())) {
            return false;
        }
        if (_writingPriority != -1 || !pickNextRecord()) {
            return true;
        }
        // Set under the context lock: the worker clears it under the same lock when it
        // runs out of records, so the two can never cross.
        changeInterest(WriteWanted, 0);
    }
    _dispatcher->writeRequested(*this);
    return true;
}

void SessionContextImpl::receive(ByteBuffer* buffer) {
    if (isClosed()) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(_mutex);
        if (_receiveCount > 0 && !_receiveComplete) {
            QF_TRACE("Receiving is not completed. Receive Count: %d\n", _receiveCount);
        }
        _interest |= ReadWanted;
        _receiveBuffer = buffer;
        _receiveStart = buffer->position();
        _receiveComplete = false;
        _receiveCount += 1;
    }
    _dispatcher->receiveRequested(*this);
}

bool SessionContextImpl::hasRoom(int bytes) const {
    std::lock_guard<Mutex> guard(_lock);
    return _normalQueue.freeSpace() >= bytes;
}

int SessionContextImpl::freeSpace() const {
    std::lock_guard<Mutex> guard(_lock);
    return _normalQueue.freeSpace();
}

int SessionContextImpl::queuedPackets() const {
    std::lock_guard<Mutex> guard(_lock);
    return _urgentQueue.count() + _normalQueue.count();
}

SocketAddress SessionContextImpl::localAddress() const {
    std::lock_guard<std::mutex> guard(_mutex);
    return _localAddress;
}

SocketAddress SessionContextImpl::remoteAddress() const {
    std::lock_guard<std::mutex> guard(_mutex);
    return _remoteAddress.isUnset() ? _connectAddress : _remoteAddress;
}

SessionState SessionContextImpl::state() const {
    std::lock_guard<std::mutex> guard(_mutex);
    return _state;
}

int SessionContextImpl::interest() const {
    std::lock_guard<std::mutex> guard(_mutex);
    return _interest;
}

int SessionContextImpl::closeReason() const {
    std::lock_guard<std::mutex> guard(_mutex);
    return _closeReason;
}

void SessionContextImpl::setState(SessionState state) {
    std::lock_guard<std::mutex> guard(_mutex);
    _state = state;
}

void SessionContextImpl::changeInterest(int set, int clear) {
    std::lock_guard<std::mutex> guard(_mutex);
    _interest = (_interest | set) & ~clear;
}

SocketAddress SessionContextImpl::connectAddress() const {
    std::lock_guard<std::mutex> guard(_mutex);
    return _connectAddress;
}

void SessionContextImpl::setAddresses(const SocketAddress& local, const SocketAddress& remote) {
    std::lock_guard<std::mutex> guard(_mutex);
    _localAddress = local;
    _remoteAddress = remote;
}

bool SessionContextImpl::pickNextRecord() {
    _writeOffset = 0;
    if (!_urgentQueue.isEmpty()) {
        _writingPriority = 0;
    } else if (!_normalQueue.isEmpty()) {
        _writingPriority = 1;
    } else {
        _writingPriority = -1;
    }
    return _writingPriority != -1;
}
