#pragma once

#include <filesystem>
#include <string>

// A fresh, empty directory under the system temporary folder that is removed with
// everything in it when the object goes out of scope. Each test makes its own so
// tests never see each other's files.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return _path; }
    // The path of `name` inside this directory, as text.
    std::string file(const std::string& name) const;

private:
    std::filesystem::path _path;
};
