#pragma once

#include <string>

// Turns a host name into the dotted text of its first IPv4 address. Looking a name up may
// wait for a name server for seconds, so callers resolve before they take any lock that
// other connections need. The process resolves through the system's resolver unless a test
// installs another one (to stall or fail on purpose).
//
// resolve() may be called from any thread at once; setCurrent() only while no look-up is
// under way.
class HostResolver {
public:
    virtual ~HostResolver() = default;

    // The first IPv4 address of `host`. Throws SocketAddressInfoException with error code
    // 108 (host name not found) and the resolver's text when the name has none.
    virtual std::string resolve(const char* host) = 0;

    // The resolver in force.
    static HostResolver& current();
    // Installs `resolver` (not owned); nullptr restores the system's.
    static void setCurrent(HostResolver* resolver);
};

// The operating system's resolver (getaddrinfo, IPv4).
class SystemHostResolver : public HostResolver {
public:
    std::string resolve(const char* host) override;
    static SystemHostResolver& instance();
};
