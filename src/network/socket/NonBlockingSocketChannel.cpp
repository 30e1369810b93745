#include "network/socket/NonBlockingSocketChannel.h"

#include "base/Exception.h"
#include "network/socket/SocketApiWrapper.h"

int NonBlockingSocketChannel::createSocket() {
    int s = SocketChannel::createSocket();
    try {
        SocketApiWrapper::configureBlocking(s, false);
    } catch (const Exception&) {
        SocketApiWrapper::closeSocket(s);
        throw;
    }
    return s;
}

bool NonBlockingSocketChannel::implConnect(int s, const sockaddr_in& address) {
    return SocketApiWrapper::connect(s, address);
}
