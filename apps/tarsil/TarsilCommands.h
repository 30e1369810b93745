#pragma once

#include <cstdint>
#include <string>

// The verbs of the tarsil storage tool. Each prints its result on stdout and returns
// the process exit code; a failure prints one line on stderr saying what went wrong.
namespace TarsilCommands {

struct FormatOptions {
    std::string path;
    std::string size;  // bytes, or with a K, M, G or T suffix (powers of 1024)
    uint32_t pageSize = 524288;
    std::string repository;  // empty: a new identifier
    std::string description;
};

// Creates FILE preallocated to the size and formats it as an empty storage.
int format(const FormatOptions& options);

// Opens FILE read-only (never changing a byte) and prints the superblock, the track
// list, the free pages, the journal, the info values and the tail of the storage log.
int info(const std::string& path, bool json, int logLines);

// Parses a size text; false when it is not one.
bool parseSize(const std::string& text, uint64_t& bytes);

}  // namespace TarsilCommands
