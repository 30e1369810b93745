#include "network/socket/HostResolver.h"

#include <atomic>

#include <arpa/inet.h>
#include <netdb.h>

#include "base/SocketAddressInfoException.h"
#include "network/socket/SocketAddress.h"

namespace {
std::atomic<HostResolver*> installed{nullptr};
}

HostResolver& HostResolver::current() {
    HostResolver* resolver = installed.load(std::memory_order_acquire);
    return resolver != nullptr ? *resolver : SystemHostResolver::instance();
}

void HostResolver::setCurrent(HostResolver* resolver) {
    installed.store(resolver, std::memory_order_release);
}

SystemHostResolver& SystemHostResolver::instance() {
    static SystemHostResolver resolver;
    return resolver;
}

std::string SystemHostResolver::resolve(const char* host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    int status = ::getaddrinfo(host, nullptr, &hints, &result);
    if (status != 0 || result == nullptr) {
        if (result != nullptr) {
            ::freeaddrinfo(result);
        }
        throw SocketAddressInfoException(QF_HERE, SocketAddress::HostNotFound, ::gai_strerror(status));
    }
    char text[INET_ADDRSTRLEN] = {};
    const auto* first = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
    ::inet_ntop(AF_INET, &first->sin_addr, text, sizeof text);
    ::freeaddrinfo(result);
    return text;
}
