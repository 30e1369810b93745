#pragma once

#include <cstdint>

#include <netinet/in.h>
#include <poll.h>

class SocketAddress;

// Every socket system call of the process goes through here, so that EINTR retries, the
// would-block convention and the error-to-exception rule live in one place. A failing call
// throws SocketException carrying the errno value. Calls that may legitimately find nothing
// to do on a non-blocking socket (send, recv, accept) return -1 instead of throwing when the
// call would block. Stateless and safe to call from any thread.
class SocketApiWrapper {
public:
    // Socket layer start-up and shut-down. Nothing is needed on Linux; kept so that callers
    // have one place to hook process-wide socket set-up (SIGPIPE is avoided per call).
    static void initialize();
    static void cleanup();

    // An IPv4 socket (TCP unless `type` says otherwise), close-on-exec.
    static int createSocket(int type = 0);
    static void closeSocket(int s);
    // A connected pair of local stream sockets, both non-blocking and close-on-exec.
    static void createSocketPair(int fds[2]);
    static void configureBlocking(int s, bool blocking);

    // Plain send / receive. Returns the byte count (0 from recv: the peer closed), or -1
    // when the call would block. Never raises SIGPIPE.
    static int send(int s, const void* data, int n);
    static int recv(int s, void* buffer, int n);

    // Connects to a dotted address or a host name. True when connected at once, false when a
    // non-blocking connect is in progress.
    static bool connect(int s, const char* host, uint16_t port);
    static bool connect(int s, const sockaddr_in& address);

    // The accepted socket (close-on-exec), or -1 when no connection is pending. Fills `peer`
    // when given.
    static int accept(int s, SocketAddress* peer);
    static void listen(int s, int backlog);
    // Binds to every local address, or to the given one.
    static void bind(int s, uint16_t port);
    static void bind(int s, const sockaddr_in& address);

    static sockaddr_in getSocketName(int s);
    static sockaddr_in getPeerName(int s);
    // The pending error of the socket (SO_ERROR), 0 when none.
    static int getSocketError(int s);

    static void setReuseAddress(int s, bool reuse);
    static bool getReuseAddress(int s);
    static void setSendBufferSize(int s, int bytes);
    static void shutdownOutput(int s);

    // Waits for readiness. Returns the number of ready descriptors; an interrupted wait
    // returns 0 as a time-out would.
    static int poll(pollfd* fds, int count, int timeoutMs);
};
