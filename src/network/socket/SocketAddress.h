#pragma once

#include <cstdint>
#include <string>

#include <netinet/in.h>

// An IPv4 address and port in the form the sessions work with: a host name (as given, or
// "Unknown" when the address came from the system), its dotted text and the port. A host
// name is resolved once, when the address is set, so that connecting never waits on a
// look-up. A value type: copy it freely; not shared between threads without copying.
class SocketAddress {
public:
    static constexpr int HostNameSize = 64;
    static constexpr int IpTextSize = 32;

    // Unset address and port.
    SocketAddress();
    // setAddress(host, port); throws as it does.
    SocketAddress(const char* host, uint16_t port);
    // From a system address record; the host name is "Unknown".
    explicit SocketAddress(const sockaddr_in& address);

    // A dotted address is kept as it is; any other text is resolved (IPv4) and its first
    // address kept. Names under the reserved ".invalid" domain never resolve and are refused
    // without asking the resolver. A failed look-up throws SocketAddressInfoException whose
    // error code is 108 (host name not found) and whose message is the resolver's text.
    void setAddress(const char* host, uint16_t port);

    const char* hostName() const { return _hostName; }
    const char* ipText() const { return _ipText; }
    uint16_t port() const { return _port; }
    bool isUnset() const { return _addressUnset || _portUnset; }

    sockaddr_in toSystemAddress() const;
    // "ip:port"
    std::string toString() const;

    // The computer's own name with address 0.0.0.0 and port 0. Process-wide.
    static const SocketAddress& localAddress();

    // Error code carried by SocketAddressInfoException when a name does not resolve.
    static constexpr int HostNotFound = 108;

private:
    char _hostName[HostNameSize];
    char _ipText[IpTextSize];
    uint16_t _port;
    bool _addressUnset;
    bool _portUnset;
};
