#include "network/socket/SocketChannel.h"

#include <algorithm>
#include <cerrno>

#include "base/ByteBuffer.h"
#include "base/SocketException.h"
#include "network/socket/SocketApiWrapper.h"

int SocketChannel::createSocket() {
    return SocketApiWrapper::createSocket();
}

void SocketChannel::onClosed() {
    _aheadStart = _aheadEnd = 0;  // bytes of the old connection never reach a new one
    _localAddress = SocketAddress();
    _remoteAddress = SocketAddress();
    _pendingRemote = SocketAddress();
    _connected = false;
}

bool SocketChannel::implConnect(int s, const sockaddr_in& address) {
    if (SocketApiWrapper::connect(s, address)) {
        return true;
    }
    // A blocking connect that was interrupted finishes in the background: wait for it.
    pollfd fd{s, POLLOUT, 0};
    while (SocketApiWrapper::poll(&fd, 1, -1) == 0) {
    }
    int error = SocketApiWrapper::getSocketError(s);
    if (error != 0) {
        throw SocketException(QF_HERE, error);
    }
    return true;
}

int SocketChannel::read(int s, void* buffer, int n) {
    return SocketApiWrapper::recv(s, buffer, n);
}

int SocketChannel::write(int s, const void* data, int n) {
    return SocketApiWrapper::send(s, data, n);
}

void SocketChannel::shutdownOutput() {
    if (isOpen()) {
        SocketApiWrapper::shutdownOutput(socket());
    }
}

bool SocketChannel::connect(const SocketAddress& address) {
    _pendingRemote = address;
    if (!implConnect(socket(), address.toSystemAddress())) {
        return false;
    }
    connectCompleted();
    return true;
}

void SocketChannel::connectCompleted() {
    _remoteAddress = _pendingRemote;
    fillAddresses(socket());
    _connected = true;
}

void SocketChannel::fillAddresses(int s) {
    try {
        _localAddress = SocketAddress(SocketApiWrapper::getSocketName(s));
        if (_remoteAddress.isUnset()) {
            _remoteAddress = SocketAddress(SocketApiWrapper::getPeerName(s));
        }
    } catch (const SocketException&) {
        // The connection may already be gone; the addresses are informational only.
    }
}

void SocketChannel::adopt(int s, const SocketAddress& peer) {
    adoptSocket(s);
    _remoteAddress = peer;
    fillAddresses(s);
    _connected = true;
}

int SocketChannel::read(ByteBuffer& buffer) {
    int wanted = buffer.remaining();
    if (wanted <= 0 || _aheadSize == 0) {
        return transfer(buffer, false);
    }
    if (!hasBufferedInput()) {
        if (wanted >= _aheadSize) {
            return transfer(buffer, false);  // a large read goes straight to its buffer
        }
        int received = receiveAhead();
        if (received <= 0) {
            return received;
        }
    }
    int n = std::min(wanted, _aheadEnd - _aheadStart);
    buffer.put(_ahead.data() + _aheadStart, n);
    _aheadStart += n;
    if (_aheadStart == _aheadEnd) {
        _aheadStart = _aheadEnd = 0;
    }
    return n;
}

void SocketChannel::setReadAhead(int bytes) {
    _aheadSize = std::max(bytes, 0);
    _ahead.clear();  // taken at the first read that needs it
    _ahead.shrink_to_fit();
    _aheadStart = _aheadEnd = 0;
}

int SocketChannel::receiveAhead() {
    if (_ahead.size() != static_cast<size_t>(_aheadSize)) {
        _ahead.resize(static_cast<size_t>(_aheadSize));
    }
    try {
        int done = read(socket(), _ahead.data(), _aheadSize);
        if (done < 0) {
            _lastError = EWOULDBLOCK;
            return WouldBlock;
        }
        _lastError = 0;
        _aheadStart = 0;
        _aheadEnd = done;
        return done;
    } catch (const SocketException& e) {
        _lastError = e.errorCode();
        return -1;
    }
}

int SocketChannel::write(ByteBuffer& buffer) {
    return transfer(buffer, true);
}

int SocketChannel::transfer(ByteBuffer& buffer, bool sending) {
    int n = buffer.remaining();
    if (n <= 0) {
        return 0;
    }
    try {
        int done = sending ? write(socket(), buffer.current(), n) : read(socket(), buffer.current(), n);
        if (done < 0) {
            _lastError = EWOULDBLOCK;
            return WouldBlock;
        }
        _lastError = 0;
        buffer.setPosition(buffer.position() + done);
        return done;
    } catch (const SocketException& e) {
        _lastError = e.errorCode();
        return -1;
    }
}
