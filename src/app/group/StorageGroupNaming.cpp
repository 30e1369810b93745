#include "app/group/StorageGroupNaming.h"

#include <filesystem>

std::string StorageGroupNaming::groupFileName(const std::string& siteName) {
    return siteName + "." + GROUP_FILE_EXTENSION;
}

std::string StorageGroupNaming::storageFileName(const std::string& siteName, int number) {
    return siteName + " " + std::to_string(number) + "." + STORAGE_FILE_EXTENSION;
}

std::vector<std::string> StorageGroupNaming::storageFilePaths(const std::string& folder,
                                                              const std::string& siteName, int count) {
    std::vector<std::string> paths;
    for (int number = 1; number <= count; ++number) {
        paths.push_back((std::filesystem::path(folder) / storageFileName(siteName, number)).string());
    }
    return paths;
}
