#include "network/socket/NonBlockingServerSocketChannel.h"

#include "base/Exception.h"
#include "network/socket/SocketApiWrapper.h"
#include "network/socket/SocketChannel.h"

int NonBlockingServerSocketChannel::createSocket() {
    int s = ServerSocketChannel::createSocket();
    try {
        SocketApiWrapper::configureBlocking(s, false);
    } catch (const Exception&) {
        SocketApiWrapper::closeSocket(s);
        throw;
    }
    return s;
}

bool NonBlockingServerSocketChannel::accept(SocketChannel& channel) {
    if (!ServerSocketChannel::accept(channel)) {
        return false;
    }
    SocketApiWrapper::configureBlocking(channel.socket(), false);
    return true;
}
