#pragma once

#include "network/session/Priority.h"
#include "network/socket/SocketAddress.h"

class ByteBuffer;
class Session;

// The connection as a session sees it. Every operation returns at once; the dispatcher's
// worker thread does the socket work and reports back through Session. Any thread may call
// these operations.
class SessionContext {
public:
    virtual ~SessionContext() = default;

    virtual Session* session() const = 0;
    // True while the context is not attached to a live connection.
    virtual bool isClosed() const = 0;
    virtual void listen() = 0;
    virtual void connect(const SocketAddress& address) = 0;
    // Asks for the connection to be closed with `reason`. False when it is closed already
    // or a close is already under way (the first reason stands).
    virtual bool close(int reason) = 0;
    // Queues the bytes of `packet` from its position to its limit as one record. False when
    // the context is closed or closing (a close was asked for) or the queue of that priority
    // has no room for all of them.
    virtual bool send(ByteBuffer& packet, Priority priority) = 0;
    // Fills `buffer` from its position to its limit, then reports receiveCompleted. The
    // buffer must stay alive until then.
    virtual void receive(ByteBuffer* buffer) = 0;
    // Room in the Normal queue.
    virtual bool hasRoom(int bytes) const = 0;
    virtual int freeSpace() const = 0;
    // Packets waiting in both queues, the one being written included.
    virtual int queuedPackets() const = 0;
    virtual SocketAddress localAddress() const = 0;
    virtual SocketAddress remoteAddress() const = 0;
    // The lock held around writing and queue switching.
    virtual void lock() = 0;
    virtual void unlock() = 0;
};
