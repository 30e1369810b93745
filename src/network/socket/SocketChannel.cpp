#include "network/socket/SocketChannel.h"

#include <cerrno>

#include "base/ByteBuffer.h"
#include "base/SocketException.h"
#include "network/socket/SocketApiWrapper.h"

int SocketChannel::createSocket() {
    return SocketApiWrapper::createSocket();
}

void SocketChannel::onClosed() {
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
    return transfer(buffer, false);
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
