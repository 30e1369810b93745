#include "network/session/SelectDispatcher.h"

#include <cerrno>
#include <exception>

#include "base/ByteBuffer.h"
#include "base/Exception.h"
#include "base/SocketException.h"
#include "base/Trace.h"
#include "network/session/DisconnectReason.h"
#include "network/session/Session.h"
#include "network/session/SessionContextImpl.h"
#include "network/socket/NonBlockingServerSocketChannel.h"
#include "network/socket/NonBlockingSocketChannel.h"
#include "network/socket/SocketApiWrapper.h"

namespace {

// Reads and writes of one readiness are repeated this often before other connections get
// their turn, so that a burst of small packets does not cost one poll round each.
constexpr int MaxTransfersPerRound = 64;
// What one receive of a connection may bring: a stream of small frames then costs one
// system call per this many bytes rather than one or two per frame.
constexpr int ReadAheadBytes = 65536;

void closeQuietly(int& fd) {
    if (fd != -1) {
        try {
            SocketApiWrapper::closeSocket(fd);
        } catch (const Exception&) {
        }
        fd = -1;
    }
}

}  // namespace

SelectDispatcher::SelectDispatcher(int connectionCount, int listenerCount, const char* workerName)
    : _worker(*this, workerName) {
    for (int i = 0; i < connectionCount; ++i) {
        _channels.push_back(std::make_unique<NonBlockingSocketChannel>());
        _channels.back()->setReadAhead(ReadAheadBytes);
    }
    for (int i = 0; i < listenerCount; ++i) {
        _serverChannels.push_back(std::make_unique<NonBlockingServerSocketChannel>());
    }
    for (int i = 0; i < connectionCount + listenerCount; ++i) {
        _contexts.push_back(std::make_unique<SessionContextImpl>(this));
    }
}

SelectDispatcher::~SelectDispatcher() {
    stop();
}

NonBlockingSocketChannel* SelectDispatcher::allocateChannel() {
    for (auto& channel : _channels) {
        if (!channel->isOpen()) {
            channel->open();
            return channel.get();
        }
    }
    return nullptr;
}

NonBlockingServerSocketChannel* SelectDispatcher::allocateServerChannel() {
    for (auto& channel : _serverChannels) {
        if (!channel->isOpen()) {
            channel->open();
            return channel.get();
        }
    }
    return nullptr;
}

bool SelectDispatcher::attach(Session& session) {
    std::lock_guard<std::mutex> guard(_poolMutex);
    NonBlockingSocketChannel* channel = allocateChannel();
    if (channel == nullptr) {
        QF_TRACE("socket is NULL. it needs to increase Dispatchers connection count..\n");
        return false;
    }
    for (auto& context : _contexts) {
        if (context->isClosed()) {
            context->bind(channel, nullptr, &session);
            session.setContext(context.get());
            return true;
        }
    }
    channel->close();
    QF_TRACE("contextImpl is NULL. it needs to increase Dispatchers connection count..\n");
    return false;
}

int SelectDispatcher::contextsInUse() const {
    std::lock_guard<std::mutex> guard(_poolMutex);
    int inUse = 0;
    for (const auto& context : _contexts) {
        inUse += context->isClosed() ? 0 : 1;
    }
    return inUse;
}

void SelectDispatcher::start() {
    if (_started) {
        return;
    }
    int fds[2] = {-1, -1};
    SocketApiWrapper::createSocketPair(fds);
    {
        std::lock_guard<std::mutex> guard(_wakeMutex);
        _wakeRead = fds[0];
        _wakeWrite = fds[1];
        _wakePending = false;
    }
    _started = true;
    _worker.start();
}

void SelectDispatcher::stop() {
    if (!_started) {
        return;
    }
    _worker.stop();
    wakeUp();
    _worker.join();
    _started = false;
    {
        std::lock_guard<std::mutex> guard(_poolMutex);
        for (auto& channel : _channels) {
            channel->close();
        }
        for (auto& channel : _serverChannels) {
            channel->close();
        }
    }
    std::lock_guard<std::mutex> guard(_wakeMutex);
    closeQuietly(_wakeRead);
    closeQuietly(_wakeWrite);
    _wakePending = false;
}

void SelectDispatcher::writeRequested(SessionContextImpl&) {
    wakeUp();
}

void SelectDispatcher::receiveRequested(SessionContextImpl&) {
    wakeUp();
}

void SelectDispatcher::connectRequested(SessionContextImpl&) {
    wakeUp();
}

void SelectDispatcher::acceptRequested(SessionContextImpl&) {
    wakeUp();
}

void SelectDispatcher::closeRequested(SessionContextImpl&) {
    wakeUp();
}

void SelectDispatcher::wakeUp() {
    if (Thread::currentThreadId() == _worker.id()) {
        return;  // the worker polls again after this round, with the interests as they are then
    }
    std::lock_guard<std::mutex> guard(_wakeMutex);
    if (_wakePending || _wakeWrite == -1) {
        return;
    }
    char byte = 'X';
    try {
        if (SocketApiWrapper::send(_wakeWrite, &byte, 1) == 1) {
            _wakePending = true;
        }
    } catch (const SocketException& e) {
        QF_TRACE("SelectDispatcher: wake-up failed: %s\n", messageOf(e));
    }
}

void SelectDispatcher::drainWakeUp() {
    std::lock_guard<std::mutex> guard(_wakeMutex);
    char bytes[16];
    try {
        while (SocketApiWrapper::recv(_wakeRead, bytes, sizeof bytes) > 0) {
        }
    } catch (const SocketException&) {
    }
    _wakePending = false;
}

void SelectDispatcher::WorkerThread::runOnce() {
    try {
        _owner.runRound();
    } catch (const Exception& e) {
        // Only a failing poll() gets here; keep serving rather than lose every connection.
        QF_TRACE("SelectDispatcher: round failed: %s\n", e.describe().c_str());
        Thread::sleep(RoundTimeoutMs);
    }
}

void SelectDispatcher::WorkerThread::onStop() {
    _owner.stopAll();
}

void SelectDispatcher::runRound() {
    std::vector<SessionContextImpl*> candidates;
    {
        std::lock_guard<std::mutex> guard(_poolMutex);
        for (auto& context : _contexts) {
            if (!context->isClosed()) {
                candidates.push_back(context.get());
            }
        }
    }
    _pollFds.clear();
    _polled.clear();
    _pollFds.push_back(pollfd{_wakeRead, POLLIN, 0});
    for (SessionContextImpl* context : candidates) {
        short events = 0;
        if (prepare(*context, events)) {
            _pollFds.push_back(pollfd{context->_channel->socket(), events, 0});
            _polled.push_back(context);
        }
    }

    // A connection whose channel already holds received bytes is readable whatever its
    // socket says: the round must not wait for the socket.
    _buffered.assign(_polled.size(), false);
    bool anyBuffered = false;
    for (size_t i = 0; i < _polled.size(); ++i) {
        if ((_pollFds[i + 1].events & POLLIN) != 0 && _polled[i]->_channel->hasBufferedInput()) {
            _buffered[i] = true;
            anyBuffered = true;
        }
    }
    int ready = SocketApiWrapper::poll(_pollFds.data(), static_cast<int>(_pollFds.size()),
                                       anyBuffered ? 0 : RoundTimeoutMs);
    if (ready > 0 && (_pollFds[0].revents & POLLIN) != 0) {
        drainWakeUp();
        --ready;
    }
    if (ready > 0 || anyBuffered) {
        for (size_t i = 0; i < _polled.size(); ++i) {
            short revents = static_cast<short>(_pollFds[i + 1].revents | (_buffered[i] ? POLLIN : 0));
            if (revents != 0) {
                process(*_polled[i], revents);
            }
        }
    }
    if (candidates.empty()) {
        Thread::yield();
    }
}

bool SelectDispatcher::prepare(SessionContextImpl& context, short& events) {
    int interest = context.interest();
    if ((interest & SessionContextImpl::CloseWanted) != 0) {
        closeContext(context, context.closeReason());
        return false;
    }
    if (context._channel == nullptr) {
        return false;
    }
    if ((interest & SessionContextImpl::ConnectWanted) != 0) {
        startConnect(context);
        if (context.isClosed() || (context.interest() & SessionContextImpl::ConnectInProgress) == 0) {
            return false;
        }
        events = POLLOUT;
    } else if ((interest & SessionContextImpl::ConnectInProgress) != 0) {
        events = POLLOUT;
    } else if (!context._channel->isConnected() && context._serverChannel == nullptr) {
        // Attached but not yet asked to connect: an unconnected socket polls as hung up.
        return false;
    } else if ((interest & SessionContextImpl::AcceptWanted) != 0) {
        events = POLLIN;
    } else {
        events = 0;
        if ((interest & SessionContextImpl::ReadWanted) != 0) {
            events |= POLLIN;
        }
        if ((interest & SessionContextImpl::WriteWanted) != 0) {
            events |= POLLOUT;
        }
    }
    return true;
}

void SelectDispatcher::process(SessionContextImpl& context, short revents) {
    if (context.isClosed()) {
        return;
    }
    int interest = context.interest();
    if ((interest & SessionContextImpl::CloseWanted) != 0) {
        closeContext(context, context.closeReason());
        return;
    }
    if ((interest & SessionContextImpl::ConnectInProgress) != 0) {
        finishConnect(context, revents);
        return;
    }
    if ((interest & SessionContextImpl::ConnectWanted) != 0) {
        return;  // asked for while this round was waiting; started next round
    }
    if ((revents & (POLLERR | POLLNVAL)) != 0) {
        QF_TRACE("Set in Error FD_SET\n");
        int error = 0;
        try {
            error = SocketApiWrapper::getSocketError(context._channel->socket());
        } catch (const SocketException& e) {
            error = e.errorCode();
        }
        closeContext(context, DisconnectReason::fromSocketError(error));
        return;
    }
    if ((revents & (POLLIN | POLLHUP)) != 0) {
        if ((interest & SessionContextImpl::AcceptWanted) != 0) {
            acceptReady(context);
        } else if ((interest & SessionContextImpl::ReadWanted) != 0) {
            readReady(context);
        } else if ((revents & POLLIN) != 0) {
            QF_TRACE("Context isn't interest to read. But it intends to read... Now close socket.\n");
            closeContext(context, DisconnectReason::UnexpectedReadable);
        } else {
            QF_TRACE("[READ] Socket closed...\n");
            closeContext(context, DisconnectReason::PeerClosed);
        }
        if (context.isClosed()) {
            return;
        }
    }
    if ((revents & POLLOUT) != 0 && (context.interest() & SessionContextImpl::CloseWanted) == 0) {
        writeReady(context);
    }
}

void SelectDispatcher::startConnect(SessionContextImpl& context) {
    bool connected = false;
    try {
        connected = context._channel->connect(context.connectAddress());
    } catch (const SocketException& e) {
        closeContext(context, DisconnectReason::fromSocketError(e.errorCode()), true);
        return;
    }
    if (!connected) {
        context.changeInterest(SessionContextImpl::ConnectInProgress, SessionContextImpl::ConnectWanted);
        return;
    }
    context.setAddresses(context._channel->localAddress(), context._channel->remoteAddress());
    context.changeInterest(0, SessionContextImpl::ConnectWanted | SessionContextImpl::ConnectInProgress);
    context.setState(SessionState::CONNECTED);
    report(context, [&context] { context._session->connectCompleted(); });
}

void SelectDispatcher::finishConnect(SessionContextImpl& context, short revents) {
    int error = 0;
    try {
        error = SocketApiWrapper::getSocketError(context._channel->socket());
    } catch (const SocketException& e) {
        error = e.errorCode();
    }
    if (error == 0 && (revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        error = ECONNREFUSED;
    }
    if (error != 0) {
        closeContext(context, DisconnectReason::fromSocketError(error), true);
        return;
    }
    if ((revents & POLLOUT) == 0) {
        return;
    }
    context._channel->connectCompleted();
    context.setAddresses(context._channel->localAddress(), context._channel->remoteAddress());
    context.changeInterest(0, SessionContextImpl::ConnectInProgress);
    context.setState(SessionState::CONNECTED);
    report(context, [&context] { context._session->connectCompleted(); });
}

void SelectDispatcher::readReady(SessionContextImpl& context) {
    for (int round = 0; round < MaxTransfersPerRound; ++round) {
        ByteBuffer* buffer = nullptr;
        int start = 0;
        {
            std::lock_guard<std::mutex> guard(context._mutex);
            if ((context._interest & (SessionContextImpl::ReadWanted | SessionContextImpl::CloseWanted)) !=
                SessionContextImpl::ReadWanted) {
                return;
            }
            buffer = context._receiveBuffer;
            start = context._receiveStart;
        }
        int n = buffer->remaining() > 0 ? context._channel->read(*buffer) : 0;
        if (n == SocketChannel::WouldBlock) {
            return;
        }
        if (n <= 0 && buffer->remaining() > 0) {
            QF_TRACE("[READ] Socket closed...\n");
            closeContext(context, DisconnectReason::PeerClosed);
            return;
        }
        if (buffer->remaining() > 0) {
            continue;
        }
        {
            std::lock_guard<std::mutex> guard(context._mutex);
            context._receiveComplete = true;
            context._receiveCount -= 1;
            context._interest &= ~SessionContextImpl::ReadWanted;
        }
        int bytes = buffer->position() - start;
        report(context, [&context, bytes] { context._session->receiveCompleted(bytes); });
        if (context.isClosed()) {
            return;
        }
    }
}

void SelectDispatcher::writeReady(SessionContextImpl& context) {
    for (int round = 0; round < MaxTransfersPerRound; ++round) {
        WriteOutcome outcome = writeFront(context);
        if (outcome == WriteOutcome::RecordFinished) {
            report(context, [&context] { context._session->sendCompleted(); });
            if (context.isClosed()) {
                return;
            }
            continue;
        }
        if (outcome == WriteOutcome::Unwanted && round == 0) {
            QF_TRACE("Context isn't interest to write. But it intends to write... Now close socket.\n");
            closeContext(context, DisconnectReason::UnexpectedWritable);
        } else if (outcome == WriteOutcome::WouldBlock && round == 0) {
            QF_TRACE("Select returns but write would block.\n");
        } else if (outcome == WriteOutcome::Failed) {
            QF_TRACE("[WRITE] Socket closed...\n");
            closeContext(context, DisconnectReason::PeerClosed);
        }
        return;
    }
}

SelectDispatcher::WriteOutcome SelectDispatcher::writeFront(SessionContextImpl& context) {
    std::lock_guard<Mutex> guard(context._lock);
    for (;;) {
        if ((context.interest() & SessionContextImpl::WriteWanted) == 0 || context._writingPriority == -1) {
            return WriteOutcome::Unwanted;
        }
        SendQueue& queue = context.queueOf(context._writingPriority);
        int length = queue.frontLength();
        ByteBuffer view(length, const_cast<uint8_t*>(queue.frontData()));
        view.setPosition(context._writeOffset);
        int n = context._channel->write(view);
        if (n == SocketChannel::WouldBlock) {
            return WriteOutcome::WouldBlock;
        }
        if (n <= 0) {
            return WriteOutcome::Failed;
        }
        context._writeOffset += n;
        if (context._writeOffset < length) {
            continue;
        }
        queue.popFront();
        if (!context.pickNextRecord()) {
            context.changeInterest(0, SessionContextImpl::WriteWanted);
        }
        return WriteOutcome::RecordFinished;
    }
}

void SelectDispatcher::acceptReady(SessionContextImpl& context) {
    // Nothing in the system listens through the dispatcher yet: take the connection off the
    // backlog so the listener does not stay readable, and drop it.
    NonBlockingSocketChannel dropped;
    try {
        if (context._serverChannel != nullptr && context._serverChannel->accept(dropped)) {
            dropped.close();
        }
    } catch (const SocketException& e) {
        QF_TRACE("SelectDispatcher: accept failed: %s\n", messageOf(e));
    }
}

void SelectDispatcher::detachChannel(SessionContextImpl& context) {
    std::lock_guard<std::mutex> guard(_poolMutex);
    if (context._channel != nullptr) {
        context._channel->close();
    }
    if (context._serverChannel != nullptr) {
        context._serverChannel->close();
    }
    std::lock_guard<std::mutex> contextGuard(context._mutex);
    context._channel = nullptr;
    context._serverChannel = nullptr;
}

void SelectDispatcher::closeContext(SessionContextImpl& context, int reason, bool connecting) {
    if (context.isClosed()) {
        return;
    }
    detachChannel(context);
    context.setState(SessionState::DISCONNECTED);
    Session* session = context._session;
    if (session != nullptr) {
        try {
            if (connecting) {
                session->connectFailed(reason);
            } else {
                session->connectionClosed(reason);
            }
        } catch (const Exception& e) {
            QF_TRACE("SelectDispatcher: close callback failed: %s\n", e.describe().c_str());
        } catch (const std::exception& e) {
            QF_TRACE("SelectDispatcher: close callback failed: %s\n", e.what());
        } catch (...) {
            QF_TRACE("SelectDispatcher: close callback failed\n");
        }
    }
    std::lock_guard<std::mutex> guard(_poolMutex);
    context.reset();
}

template <typename F>
void SelectDispatcher::report(SessionContextImpl& context, F callback) {
    try {
        callback();
        return;
    } catch (const Exception& e) {
        QF_TRACE("SelectDispatcher: session callback failed: %s\n", e.describe().c_str());
    } catch (const std::exception& e) {
        QF_TRACE("SelectDispatcher: session callback failed: %s\n", e.what());
    } catch (...) {
        QF_TRACE("SelectDispatcher: session callback failed\n");
    }
    context.close(DisconnectReason::Other);
}

void SelectDispatcher::stopAll() {
    std::vector<SessionContextImpl*> live;
    {
        std::lock_guard<std::mutex> guard(_poolMutex);
        for (auto& context : _contexts) {
            if (!context->isClosed() && context->_channel != nullptr) {
                live.push_back(context.get());
            }
        }
    }
    for (SessionContextImpl* context : live) {
        closeContext(*context, DisconnectReason::DispatcherStopped);
    }
}
