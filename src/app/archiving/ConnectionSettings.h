#pragma once

#include <cstdint>
#include <string>

class RecordSite;

// Where a schedule's recorder is and how to log in to it: the site's address, playback
// port, user name and password as entered. A plain value.
struct ConnectionSettings {
    std::string address;
    uint16_t port = 0;
    std::string user;
    std::string password;

    // The settings of a site's row.
    static ConnectionSettings of(const RecordSite& site);
};
