#pragma once

#include <string>

// The commands that read the station's configuration database without running the
// station, for people who run it headless. Each returns the process exit code and writes
// its one-line errors to stderr as "quillfen: ...".
namespace StationCommands {

// Opens (creating when missing) the data directory and its app.db with both tables.
// Empty `dataDir` means the default folder. False, after the error line, when the folder
// or the database cannot be used.
bool openData(const std::string& dataDir);

// Lists every site, deleted ones included: name, address, port, archiving and deleted
// flags, id. Never the password.
int listSites();

struct LogFilter {
    std::string from;  // YYYY-MM-DD or YYYY/MM/DD, empty for no lower bound
    std::string to;    // the same, empty for no upper bound
    std::string site;  // a site's name or id, empty for all sites
};

// Prints the system log, newest entry first, with level and message texts.
int showLog(const LogFilter& filter);

}  // namespace StationCommands
