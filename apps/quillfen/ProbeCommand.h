#pragma once

#include <cstdint>
#include <string>

// `quillfen probe`: connects to a recorder, logs in and prints its product and system
// information, recording calendar and time table, as text or as JSON. Returns the process
// exit code: 0 on success; 1 when the recorder could not be probed, after printing the
// reason number and an explanation ("quillfen: probe failed: reason N: ..." on stderr;
// with --json also an object with "ok": false on stdout).
namespace ProbeCommand {

struct Options {
    std::string address;
    uint16_t port = 0;
    std::string user;
    std::string password;
    bool json = false;
};

int run(const Options& options);

}  // namespace ProbeCommand
