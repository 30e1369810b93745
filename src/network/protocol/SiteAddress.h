#pragma once

#include <cstdint>
#include <string>

// Where and as whom to connect: the recorder's host (name or dotted address), its playback
// port and the login credentials.
struct SiteAddress {
    std::string host;
    uint16_t port = 0;
    std::string user;
    std::string password;
};
