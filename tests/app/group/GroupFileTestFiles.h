#pragma once

#include <fstream>
#include <sstream>
#include <string>

// Raw file access for the group file tests, past every class under test.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline constexpr const char* SITE_ID = "6b29fc40-ca47-1067-b31d-00dd010662da";
inline constexpr const char* STORAGE_ID = "0a1b2c3d-4e5f-4a6b-8c7d-8e9fa0b1c2d3";

// The file a new group of SITE_ID holds.
inline std::string newGroupText() {
    return std::string(
               "{\n"
               "\t\"Magic\" : \"StorageGroupFile\",\n"
               "\t\"Version\" : \"1\",\n"
               "\t\"RepositoryID\" : \"") +
           SITE_ID +
           "\",\n"
           "\t\"LastStorageID\" : \"\",\n"
           "\t\"LastRecordingSectionID\" : \"0\",\n"
           "\t\"StorageFiles\" : []\n"
           "}";
}
