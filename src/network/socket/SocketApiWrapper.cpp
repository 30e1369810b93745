#include "network/socket/SocketApiWrapper.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/SocketException.h"
#include "network/socket/SocketAddress.h"

namespace {

bool wouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

}  // namespace

void SocketApiWrapper::initialize() {}

void SocketApiWrapper::cleanup() {}

int SocketApiWrapper::createSocket(int type) {
    int s = ::socket(AF_INET, (type == 0 ? SOCK_STREAM : type) | SOCK_CLOEXEC, 0);
    if (s < 0) {
        throw SocketException(QF_HERE, errno);
    }
    return s;
}

void SocketApiWrapper::closeSocket(int s) {
    // Linux releases the descriptor even when close is interrupted: never retry.
    if (::close(s) != 0 && errno != EINTR) {
        throw SocketException(QF_HERE, errno);
    }
}

void SocketApiWrapper::createSocketPair(int fds[2]) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
        throw SocketException(QF_HERE, errno);
    }
}

void SocketApiWrapper::configureBlocking(int s, bool blocking) {
    int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0) {
        throw SocketException(QF_HERE, errno);
    }
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    if (::fcntl(s, F_SETFL, flags) != 0) {
        throw SocketException(QF_HERE, errno);
    }
}

int SocketApiWrapper::send(int s, const void* data, int n) {
    for (;;) {
        ssize_t sent = ::send(s, data, static_cast<size_t>(n), MSG_NOSIGNAL);
        if (sent >= 0) {
            return static_cast<int>(sent);
        }
        if (errno == EINTR) {
            continue;
        }
        if (wouldBlock(errno)) {
            return -1;
        }
        throw SocketException(QF_HERE, errno);
    }
}

int SocketApiWrapper::recv(int s, void* buffer, int n) {
    for (;;) {
        ssize_t received = ::recv(s, buffer, static_cast<size_t>(n), 0);
        if (received >= 0) {
            return static_cast<int>(received);
        }
        if (errno == EINTR) {
            continue;
        }
        if (wouldBlock(errno)) {
            return -1;
        }
        throw SocketException(QF_HERE, errno);
    }
}

bool SocketApiWrapper::connect(int s, const char* host, uint16_t port) {
    SocketAddress address(host, port);
    return connect(s, address.toSystemAddress());
}

bool SocketApiWrapper::connect(int s, const sockaddr_in& address) {
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return true;
    }
    // An interrupted connect goes on in the background, just like a non-blocking one.
    if (errno == EINPROGRESS || errno == EINTR) {
        return false;
    }
    throw SocketException(QF_HERE, errno);
}

int SocketApiWrapper::accept(int s, SocketAddress* peer) {
    for (;;) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        int accepted = ::accept4(s, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
        if (accepted >= 0) {
            if (peer != nullptr) {
                *peer = SocketAddress(address);
            }
            return accepted;
        }
        if (errno == EINTR || errno == ECONNABORTED) {
            continue;
        }
        if (wouldBlock(errno)) {
            return -1;
        }
        throw SocketException(QF_HERE, errno);
    }
}

void SocketApiWrapper::listen(int s, int backlog) {
    if (::listen(s, backlog) != 0) {
        throw SocketException(QF_HERE, errno);
    }
}

void SocketApiWrapper::bind(int s, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    bind(s, address);
}

void SocketApiWrapper::bind(int s, const sockaddr_in& address) {
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw SocketException(QF_HERE, errno);
    }
}

sockaddr_in SocketApiWrapper::getSocketName(int s) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw SocketException(QF_HERE, errno);
    }
    return address;
}

sockaddr_in SocketApiWrapper::getPeerName(int s) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getpeername(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw SocketException(QF_HERE, errno);
    }
    return address;
}

int SocketApiWrapper::getSocketError(int s) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        throw SocketException(QF_HERE, errno);
    }
    return error;
}

void SocketApiWrapper::setReuseAddress(int s, bool reuse) {
    int value = reuse ? 1 : 0;
    if (::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &value, sizeof value) != 0) {
        throw SocketException(QF_HERE, errno);
    }
}

bool SocketApiWrapper::getReuseAddress(int s) {
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(s, SOL_SOCKET, SO_REUSEADDR, &value, &length) != 0) {
        throw SocketException(QF_HERE, errno);
    }
    return value != 0;
}

void SocketApiWrapper::setSendBufferSize(int s, int bytes) {
    if (::setsockopt(s, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) != 0) {
        throw SocketException(QF_HERE, errno);
    }
}

void SocketApiWrapper::shutdownOutput(int s) {
    if (::shutdown(s, SHUT_WR) != 0 && errno != ENOTCONN) {
        throw SocketException(QF_HERE, errno);
    }
}

int SocketApiWrapper::poll(pollfd* fds, int count, int timeoutMs) {
    int ready = ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
    if (ready >= 0) {
        return ready;
    }
    if (errno == EINTR) {
        return 0;
    }
    throw SocketException(QF_HERE, errno);
}
