#include "network/socket/SocketAddress.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include <arpa/inet.h>
#include <unistd.h>

#include "base/SocketAddressInfoException.h"
#include "base/SocketAddressException.h"
#include "network/socket/HostResolver.h"

namespace {

void copyText(char* destination, int size, const char* text) {
    std::snprintf(destination, static_cast<size_t>(size), "%s", text != nullptr ? text : "");
}

bool isDottedAddress(const char* host) {
    in_addr address{};
    return ::inet_pton(AF_INET, host, &address) == 1;
}

// Names in the ".invalid" domain are guaranteed not to exist; asking a name server about
// them would only leak traffic and wait for a time-out.
bool isReservedInvalidName(const char* host) {
    size_t length = std::strlen(host);
    while (length > 0 && host[length - 1] == '.') {
        --length;
    }
    static const char suffix[] = "invalid";
    const size_t suffixLength = sizeof suffix - 1;
    if (length < suffixLength) {
        return false;
    }
    const char* tail = host + length - suffixLength;
    if (::strncasecmp(tail, suffix, suffixLength) != 0) {
        return false;
    }
    return length == suffixLength || tail[-1] == '.';
}

}  // namespace

SocketAddress::SocketAddress() : _port(0), _addressUnset(true), _portUnset(true) {
    _hostName[0] = '\0';
    _ipText[0] = '\0';
}

SocketAddress::SocketAddress(const char* host, uint16_t port) : SocketAddress() {
    setAddress(host, port);
}

SocketAddress::SocketAddress(const sockaddr_in& address) : SocketAddress() {
    copyText(_hostName, HostNameSize, "Unknown");
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    copyText(_ipText, IpTextSize, text);
    _port = ntohs(address.sin_port);
    _addressUnset = false;
    _portUnset = false;
}

void SocketAddress::setAddress(const char* host, uint16_t port) {
    if (host == nullptr || host[0] == '\0') {
        throw SocketAddressException(QF_HERE, 0, "Empty host name");
    }
    if (isDottedAddress(host)) {
        copyText(_hostName, HostNameSize, host);
        copyText(_ipText, IpTextSize, host);
    } else {
        if (isReservedInvalidName(host)) {
            throw SocketAddressInfoException(QF_HERE, HostNotFound, "Name or service not known");
        }
        std::string text = HostResolver::current().resolve(host);
        copyText(_hostName, HostNameSize, host);
        copyText(_ipText, IpTextSize, text.c_str());
    }
    _port = port;
    _addressUnset = false;
    _portUnset = false;
}

sockaddr_in SocketAddress::toSystemAddress() const {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(_port);
    if (::inet_pton(AF_INET, _ipText, &address.sin_addr) != 1) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
    }
    return address;
}

std::string SocketAddress::toString() const {
    return std::string(_ipText) + ":" + std::to_string(_port);
}

const SocketAddress& SocketAddress::localAddress() {
    static const SocketAddress local = [] {
        SocketAddress address;
        char name[HostNameSize] = {};
        if (::gethostname(name, sizeof name - 1) != 0) {
            copyText(name, HostNameSize, "localhost");
        }
        copyText(address._hostName, HostNameSize, name);
        copyText(address._ipText, IpTextSize, "0.0.0.0");
        address._port = 0;
        address._addressUnset = false;
        address._portUnset = false;
        return address;
    }();
    return local;
}
