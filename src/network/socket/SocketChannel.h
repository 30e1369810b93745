#pragma once

#include <netinet/in.h>

#include <vector>

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
    // With read-ahead on, the bytes may come from what an earlier receive brought.
    int read(ByteBuffer& buffer);
    // Read-ahead: a read for less than `bytes` receives up to `bytes` at once and keeps what
    // the read did not take for the next ones, so a stream of small records costs one
    // receive per `bytes` instead of one or two per record. 0 turns it off. Whoever waits
    // for the socket to become readable must first serve hasBufferedInput().
    void setReadAhead(int bytes);
    bool hasBufferedInput() const { return _aheadEnd > _aheadStart; }
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
    // One receive into the read-ahead buffer: its result as transfer's.
    int receiveAhead();
    std::vector<uint8_t> _ahead;
    int _aheadSize = 0;
    int _aheadStart = 0;
    int _aheadEnd = 0;
    SocketAddress _localAddress;
    SocketAddress _remoteAddress;
    SocketAddress _pendingRemote;
    bool _connected = false;
    int _lastError = 0;
};
