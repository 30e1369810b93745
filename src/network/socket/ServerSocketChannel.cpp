#include "network/socket/ServerSocketChannel.h"

#include "base/SocketException.h"
#include "network/socket/SocketApiWrapper.h"
#include "network/socket/SocketChannel.h"

int ServerSocketChannel::createSocket() {
    return SocketApiWrapper::createSocket();
}

void ServerSocketChannel::onClosed() {
    _bound = false;
    _localAddress = SocketAddress();
}

void ServerSocketChannel::setReuseAddress(bool reuse) {
    SocketApiWrapper::setReuseAddress(socket(), reuse);
}

bool ServerSocketChannel::getReuseAddress() const {
    return SocketApiWrapper::getReuseAddress(socket());
}

void ServerSocketChannel::setSendBufferSize(int bytes) {
    SocketApiWrapper::setSendBufferSize(socket(), bytes);
}

void ServerSocketChannel::bind(uint16_t port, int backlog) {
    SocketApiWrapper::bind(socket(), port);
    SocketApiWrapper::listen(socket(), backlog);
    _bound = true;
    _localAddress = SocketAddress(SocketApiWrapper::getSocketName(socket()));
}

void ServerSocketChannel::bind(const SocketAddress& address, int backlog) {
    SocketApiWrapper::bind(socket(), address.toSystemAddress());
    SocketApiWrapper::listen(socket(), backlog);
    _bound = true;
    _localAddress = SocketAddress(SocketApiWrapper::getSocketName(socket()));
}

bool ServerSocketChannel::accept(SocketChannel& channel) {
    if (!_bound) {
        throw SocketException(QF_HERE, 0, "Socket is not bound yet");
    }
    SocketAddress peer;
    int s = SocketApiWrapper::accept(socket(), &peer);
    if (s == -1) {
        return false;
    }
    channel.adopt(s, peer);
    return true;
}
