#pragma once

#include <netinet/in.h>

#include "network/socket/NetworkChannel.h"
#include "network/socket/SocketAddress.h"

class ByteBuffer;

// A TCP stream channel with its local and remote address. This class connects blocking;
// NonBlockingSocketChannel overrides that. read/write move bytes between the socket and a
// ByteBuffer at its position. Used by one thread at a time.
class SocketChannel : public NetworkChannel {
public:
    // What read/write return when a non-blocking socket has nothing to give or no room.
    static constexpr int WouldBlock = -2;

    int createSocket() override;
    // Forgets both addresses and the connected flag.
    void onClosed() override;
    // Starts or completes the system connect. True when connected.
    virtual bool implConnect(int s, const sockaddr_in& address);
    virtual int read(int s, void* buffer, int n);
    virtual int write(int s, const void* data, int n);
    virtual void shutdownOutput();

    // Connects to `address`; true when connected (both addresses filled), false while a
    // non-blocking connect is in progress. Throws SocketException when the connect fails.
    bool connect(const SocketAddress& address);
    // Records the addresses of a connect that completed in the background.
    void connectCompleted();

    // Receives at most remaining() bytes at the buffer's position and advances it. Returns
    // the byte count (0: the peer closed), WouldBlock, or -1 on error (see lastError()).
    int read(ByteBuffer& buffer);
    // Sends at most remaining() bytes from the buffer's position and advances it. Same
    // results as read.
    int write(ByteBuffer& buffer);

    int lastError() const { return _lastError; }
    bool isConnected() const { return _connected; }
    const SocketAddress& localAddress() const { return _localAddress; }
    const SocketAddress& remoteAddress() const { return _remoteAddress; }
    // Adopts a socket that was accepted by a server channel.
    void adopt(int s, const SocketAddress& peer);

protected:
    void fillAddresses(int s);

private:
    int transfer(ByteBuffer& buffer, bool sending);
    SocketAddress _localAddress;
    SocketAddress _remoteAddress;
    SocketAddress _pendingRemote;
    bool _connected = false;
    int _lastError = 0;
};
