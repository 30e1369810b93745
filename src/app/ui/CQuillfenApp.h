#pragma once

#include <string>

// The station process: one per data directory. It takes the directory's lock file (a
// second station on it says where the first one listens and ends), opens app.db, loads the
// sites and the log, prepares the storage folder, makes a fresh access token (a 0600
// file), opens the document and its schedules, serves the web API on 127.0.0.1 and notes
// its address in the state file. It runs until SIGINT or SIGTERM, then takes the confirmed
// exit: the API stops, every schedule flushes and closes its group, the database closes.
// Diagnostics go to stderr.
class CQuillfenApp {
public:
    struct Options {
        std::string dataDir;
        std::string storageDir;
        int port = 0;
    };

    // The process exit code.
    static int run(const Options& options);
};
