#pragma once

#include <atomic>

// One socket handle of the dispatcher's channel pool; -1 while closed. Subclasses decide
// what kind of socket is made and what is forgotten when it closes. The handle is atomic so
// that the pool can see which channels are free while the worker thread closes others; the
// socket itself is used by one thread at a time (the dispatcher's worker once attached).
class NetworkChannel {
public:
    NetworkChannel() = default;
    virtual ~NetworkChannel();
    NetworkChannel(const NetworkChannel&) = delete;
    NetworkChannel& operator=(const NetworkChannel&) = delete;

    // A fresh socket of this channel's kind.
    virtual int createSocket() = 0;
    virtual void onClosed() = 0;

    // Closes any previous socket and creates a new one. Throws SocketException.
    void open();
    // Closes the socket (if any), forgets it and calls onClosed().
    void close();
    bool isOpen() const { return _socket.load() != -1; }
    int socket() const { return _socket.load(); }

protected:
    // Takes over an already created socket (an accepted connection), closing any previous.
    void adoptSocket(int s);

private:
    std::atomic<int> _socket{-1};
};
