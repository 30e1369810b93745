#include "app/ui/ScheduleWizard.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/group/StorageGroupNaming.h"
#include "app/tables/SiteContainer.h"
#include "base/UniqueID.h"
#include "base/WinFile.h"

namespace {

constexpr const char* SameName = "There is a site with same name. Will you continue anyway?";
constexpr const char* SizeTooSmall = "Storage Size must be larger than 0.5 GB.";
constexpr const char* GroupFileExists = "The storage group file already exists. Overwrite?";
constexpr const char* GroupFileInUse = "Cannot overwrite : Storage group file in use by another site or application.";

std::string withSlash(const std::filesystem::path& folder) {
    std::string text = folder.string();
    if (text.empty() || text.back() != '/') {
        text += '/';
    }
    return text;
}

}  // namespace

std::string ScheduleWizard::portError(int port) {
    if (port >= MinPort && port <= MaxPort) {
        return "";
    }
    char text[64];
    std::snprintf(text, sizeof text, "Playback port must be between %d ~ %d.", MinPort, MaxPort);
    return text;
}

std::string ScheduleWizard::siteError(const std::string& name, const std::string& address, int port,
                                      const std::string& username) {
    if (name.empty()) {
        return "Site Name cannot be empty.";
    }
    if (address.empty()) {
        return "Address cannot be empty.";
    }
    std::string portText = portError(port);
    if (!portText.empty()) {
        return portText;
    }
    if (username.empty()) {
        return "User cannot be empty.";
    }
    return "";
}

ScheduleWizard::Verdict ScheduleWizard::check(const Input& input, const std::string& storageFolder) {
    Verdict verdict;
    verdict.error = siteError(input.name, input.address, input.port, input.username);
    if (!verdict.ok()) {
        return verdict;
    }
    if (!input.continueWithSameName && SiteContainer::instance().findByName(input.name) != nullptr) {
        verdict.error = SameName;
        verdict.question = true;
        return verdict;
    }
    if (input.startType < 1 || input.startType > 3 || (input.startType == 3 && !input.startTime.isValid())) {
        verdict.error = "Choose where archiving starts: first, last or a specific time.";
        return verdict;
    }
    if (!input.alwaysArchive && (!input.archiveStart.isValid() || !input.archiveStop.isValid())) {
        verdict.error = "Choose the start and stop times of the archiving hours.";
        return verdict;
    }

    ScheduleWizardResult& result = verdict.result;
    std::string folder;
    if (input.groupFile.empty()) {
        folder = withSlash(std::filesystem::path(storageFolder) / input.name);
        result.groupFile = folder + StorageGroupNaming::groupFileName(input.name);
    } else {
        result.groupFile = std::filesystem::absolute(input.groupFile).lexically_normal().string();
        folder = withSlash(std::filesystem::path(result.groupFile).parent_path());
    }
    if (input.createStorages) {
        if (input.storageCount < 1 || input.storageCount > MaxStorages) {
            verdict.error = "The number of storages must be between 1 and 100.";
            return verdict;
        }
        if (!(input.storageSizeGB * input.storageCount > 0)) {
            verdict.error = SizeTooSmall;
            return verdict;
        }
        result.storageSize = static_cast<uint64_t>(input.storageSizeGB * GB);
        if (result.storageSize < MinStorageSize) {
            verdict.error = SizeTooSmall;
            return verdict;
        }
        std::string base = folder.substr(0, folder.size() - 1);
        result.storageFiles = StorageGroupNaming::storageFilePaths(base, input.name, input.storageCount);
    }

    std::error_code error;
    if (std::filesystem::exists(folder, error) && std::filesystem::exists(result.groupFile, error)) {
        if (!input.overwriteGroupFile) {
            verdict.error = GroupFileExists;
            verdict.question = true;
            return verdict;
        }
        if (WinFile::isLocked(result.groupFile.c_str())) {
            verdict.error = GroupFileInUse;
            return verdict;
        }
    }
    std::filesystem::create_directory(folder, error);
    if (error) {
        verdict.error = "Cannot create the folder " + folder + " : " + error.message();
        return verdict;
    }

    result.siteID = UniqueID();
    result.name = input.name;
    result.address = input.address;
    result.port = input.port;
    result.username = input.username;
    result.password = input.password;
    result.startType = input.startType;
    result.startTime = input.startTime;
    result.overwrite = input.overwrite;
    result.alwaysArchive = input.alwaysArchive;
    result.archiveStart = input.archiveStart;
    result.archiveStop = input.archiveStop;
    return verdict;
}
