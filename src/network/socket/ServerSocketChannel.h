#pragma once

#include <cstdint>

#include "network/socket/NetworkChannel.h"
#include "network/socket/SocketAddress.h"

class SocketChannel;

// A listening TCP socket. bind() binds and listens in one step; accept() hands each
// connection to a SocketChannel. Used by one thread at a time.
class ServerSocketChannel : public NetworkChannel {
public:
    int createSocket() override;
    void onClosed() override;

    void setReuseAddress(bool reuse);
    bool getReuseAddress() const;
    void setSendBufferSize(int bytes);

    // Binds to every local address (or to `address`) and listens. Port 0 picks a free port;
    // localAddress() then tells which. Throws SocketException.
    void bind(uint16_t port, int backlog);
    void bind(const SocketAddress& address, int backlog);

    // Accepts one pending connection into `channel`. False when none is pending (a
    // non-blocking listener). Throws SocketException "Socket is not bound yet" before bind.
    virtual bool accept(SocketChannel& channel);

    bool isBound() const { return _bound; }
    const SocketAddress& localAddress() const { return _localAddress; }

private:
    bool _bound = false;
    SocketAddress _localAddress;
};
