#pragma once

#include <string>

// The commands that control a running station through its web API, for people who run it
// headless: adding a site, the per-site commands, start and stop of all sites, and the
// status list. Each returns the process exit code; a station that is not running, an
// unknown site or a refused check give one line on stderr and a non-zero exit.
namespace ClientCommands {

struct AddOptions {
    std::string name = "New Site";
    std::string address;
    int port = 10102;
    std::string user;
    bool passwordStdin = false;
    std::string start = "first";  // first, last, time
    std::string startTime;
    std::string hours;  // empty for always, else HH:MM:SS-HH:MM:SS
    bool noOverwrite = false;
    int storages = 1;
    double sizeGB = 4;
    bool noStorages = false;
    std::string groupFile;
    bool sameName = false;
    bool overwriteGroupFile = false;
};

struct SiteOptions {
    std::string verb;
    std::string name;
    // update
    std::string address;
    int port = 0;
    std::string user;
    bool passwordStdin = false;
    // rename
    std::string newName;
    // overwrite: on / off
    std::string overwrite;
    // hours: "always" or HH:MM:SS-HH:MM:SS
    std::string hours;
    // reschedule
    std::string start;
    std::string startTime;
    // delete
    bool deleteFiles = false;
};

int addSite(const std::string& dataDir, const AddOptions& options);
int site(const std::string& dataDir, const SiteOptions& options);
int startAll(const std::string& dataDir);
// On a terminal it first asks whether to stop all, unless `yes`.
int stopAll(const std::string& dataDir, bool yes);
int status(const std::string& dataDir, bool json, bool watch);

}  // namespace ClientCommands
