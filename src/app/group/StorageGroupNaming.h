#pragma once

#include <string>
#include <vector>

// The names of the files of a new storage group, built from the site's name: the group
// file "<site>.strgx" and the storage files "<site> 1.strg" to "<site> <count>.strg", all
// in one folder. Pure functions.
class StorageGroupNaming {
public:
    static constexpr const char* GROUP_FILE_EXTENSION = "strgx";
    static constexpr const char* STORAGE_FILE_EXTENSION = "strg";

    // "<site>.strgx"
    static std::string groupFileName(const std::string& siteName);
    // "<site> <number>.strg"
    static std::string storageFileName(const std::string& siteName, int number);
    // The storage files 1 to `count` inside `folder`.
    static std::vector<std::string> storageFilePaths(const std::string& folder, const std::string& siteName,
                                                     int count);
};
