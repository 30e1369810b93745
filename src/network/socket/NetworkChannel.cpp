#include "network/socket/NetworkChannel.h"

#include "base/Exception.h"
#include "network/socket/SocketApiWrapper.h"

NetworkChannel::~NetworkChannel() {
    int s = _socket.exchange(-1);
    if (s != -1) {
        try {
            SocketApiWrapper::closeSocket(s);
        } catch (const Exception&) {
            // Nothing to report to from a destructor; the descriptor is released anyway.
        }
    }
}

void NetworkChannel::open() {
    close();
    _socket.store(createSocket());
}

void NetworkChannel::close() {
    int s = _socket.exchange(-1);
    if (s != -1) {
        try {
            SocketApiWrapper::closeSocket(s);
        } catch (const Exception&) {
            // close() always releases the descriptor on Linux; an error here changes nothing.
        }
    }
    onClosed();
}

void NetworkChannel::adoptSocket(int s) {
    close();
    _socket.store(s);
}
