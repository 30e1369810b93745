#pragma once

#include <cstdint>
#include <string>

// The group verbs of the tarsil storage tool: storage groups (a group file listing
// storage files) made, shown and changed from the command line. Each prints its result
// on stdout and returns the process exit code; a failure prints one line on stderr saying
// what went wrong and changes nothing.
namespace TarsilGroupCommands {

struct CreateOptions {
    std::string groupPath;
    std::string repository;
    int storages = 0;
    std::string size;  // of each storage: bytes, or with a K, M, G or T suffix
    std::string directory;  // empty: the group file's folder
    uint32_t pageSize = 524288;
};

// Writes a new group file for the repository and N new storage files of SIZE named after
// the group ("<name> 1.strg" ...), formatted and listed. Nothing is left behind when it fails.
int create(const CreateOptions& options);

// Opens the group read-only (never changing a byte) and shows each listed storage with
// its status, used bytes, capacity and recorded period, and the group's totals.
int info(const std::string& groupPath, bool json);

// Lists FILE in the group. With a size, FILE is first created and formatted for the
// group's repository (it must not exist); without one it must exist already.
int add(const std::string& groupPath, const std::string& file, const std::string& size, uint32_t pageSize);

// Takes FILE off the group's list; the file itself stays.
int remove(const std::string& groupPath, const std::string& file);

}  // namespace TarsilGroupCommands
