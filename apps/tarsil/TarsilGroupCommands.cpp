#include "TarsilGroupCommands.h"

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <vector>

#include "TarsilCommands.h"
#include "app/group/StorageGroupContext.h"
#include "app/group/StorageGroupFile.h"
#include "app/group/StorageGroupNaming.h"
#include "base/Exception.h"
#include "base/File.h"
#include "base/TextOf.h"
#include "base/WinFile.h"
#include "storage/pager/TarsilFormat.h"

namespace TarsilGroupCommands {

namespace {

int fail(const std::string& line) {
    std::fprintf(stderr, "tarsil: %s\n", line.c_str());
    return 1;
}

// "from ~ to", or "-" when nothing was recorded.
std::string periodText(const Interval& interval) {
    if (!interval.from().isValid() || !interval.to().isValid()) {
        return "-";
    }
    return textOf(interval.from()) + " ~ " + textOf(interval.to());
}

nlohmann::ordered_json periodJson(const Interval& interval) {
    if (!interval.from().isValid() || !interval.to().isValid()) {
        return nullptr;
    }
    return {{"from", textOf(interval.from())}, {"to", textOf(interval.to())}};
}

bool exists(const std::string& path, std::string& problem) {
    try {
        return File::exists(path.c_str());
    } catch (const Exception& e) {
        problem = path + ": " + std::string(messageOf(e));
        return false;
    }
}

// Loads the group file for changing it; the reason in `problem` when it cannot be.
bool loadForChange(StorageGroupFile& file, const std::string& groupPath, std::string& problem) {
    if (!exists(groupPath, problem)) {
        problem = problem.empty() ? groupPath + ": no such group file" : problem;
        return false;
    }
    if (WinFile::isLocked(groupPath.c_str())) {
        problem = groupPath + " is in use by another site or application";
        return false;
    }
    if (!file.load(groupPath)) {
        problem = groupPath + " is not a storage group file (or it cannot be read)";
        return false;
    }
    return true;
}

// Group files list full paths, so that a group opens from any working folder.
std::string fullPath(const std::string& path) {
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(path, error);
    return error ? path : full.lexically_normal().string();
}

void removeAll(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        try {
            File::remove(path.c_str());
        } catch (const Exception&) {
        }
    }
}

// The page size check `tarsil format` makes, for one storage of `size` bytes.
std::string sizeProblem(uint64_t size, uint32_t pageSize) {
    if (pageSize == 0 || pageSize % 4096 != 0 || pageSize > TarsilFormat::MaxPageSize) {
        return "page size " + std::to_string(pageSize) + " is not a multiple of 4096 up to 1 GiB";
    }
    uint64_t minimum = TarsilFormat::FormatReserve + 3ull * pageSize;
    if (size < minimum) {
        return "size " + std::to_string(size) + " is below what one storage of " + std::to_string(pageSize) +
               "-byte pages needs (" + std::to_string(minimum) + " bytes)";
    }
    return "";
}

}  // namespace

int create(const CreateOptions& options) {
    uint64_t size = 0;
    if (!TarsilCommands::parseSize(options.size, size)) {
        return fail("'" + options.size + "' is not a size (bytes, or a number with K, M, G or T)");
    }
    if (std::string problem = sizeProblem(size, options.pageSize); !problem.empty()) {
        return fail(problem);
    }
    if (options.storages < 1 || options.storages > 999) {
        return fail("--storages must be between 1 and 999, not " + std::to_string(options.storages));
    }
    UniqueID repository;
    try {
        repository = UniqueID(options.repository.c_str());
    } catch (const Exception&) {
        return fail("'" + options.repository + "' is not a repository ID (8-4-4-4-12 hexadecimal)");
    }
    std::filesystem::path group(options.groupPath);
    std::string name = group.stem().string();
    if (name.empty() || group.extension() != std::string(".") + StorageGroupNaming::GROUP_FILE_EXTENSION) {
        return fail(options.groupPath + " is no group file name (NAME.strgx)");
    }
    std::string folder = fullPath(!options.directory.empty() ? options.directory
                                                             : (group.has_parent_path() ? group.parent_path().string() : "."));
    std::vector<std::string> storages = StorageGroupNaming::storageFilePaths(folder, name, options.storages);
    std::string problem;
    if (exists(options.groupPath, problem) || !problem.empty()) {
        return fail(problem.empty() ? options.groupPath + " already exists; tarsil group create only makes new groups"
                                    : problem);
    }
    for (const std::string& path : storages) {
        if (exists(path, problem) || !problem.empty()) {
            return fail(problem.empty() ? path + " already exists; tarsil group create only makes new files" : problem);
        }
    }
    std::vector<std::string> made;
    try {
        for (const std::string& path : storages) {
            StorageGroupContext::createStorageFile(path, size, repository, options.pageSize);
            made.push_back(path);
        }
        StorageGroupFile file;
        if (!file.create(options.groupPath, repository)) {
            removeAll(made);
            return fail(options.groupPath + " already exists; tarsil group create only makes new groups");
        }
        made.push_back(options.groupPath);
        if (!file.load(options.groupPath)) {
            removeAll(made);
            return fail("cannot open the new group file " + options.groupPath);
        }
        for (const std::string& path : storages) {
            file.addStorageFile(path);
        }
        file.close();
    } catch (const Exception& e) {
        removeAll(made);
        return fail(std::string("creating the group failed: ") + messageOf(e));
    }
    std::printf("created %s: %d storages of %llu bytes, repository %s\n", options.groupPath.c_str(), options.storages,
                static_cast<unsigned long long>(size), textOf(repository).c_str());
    for (const std::string& path : storages) {
        std::printf("  %s\n", path.c_str());
    }
    return 0;
}

int info(const std::string& groupPath, bool json) {
    std::string problem;
    if (!exists(groupPath, problem)) {
        return fail(problem.empty() ? groupPath + ": no such group file" : problem);
    }
    StorageGroupContext context;
    context.setReadOnly(true);
    context.load(groupPath);
    if (!context.file().repositoryUniqueID()) {
        return fail(groupPath + " is not a storage group file (or it cannot be read)");
    }
    nlohmann::ordered_json report;
    report["path"] = groupPath;
    report["repositoryID"] = context.file().repositoryID();
    report["lastStorageID"] = context.file().lastStorageID();
    report["lastRecordingSectionID"] = context.file().lastRecordingSectionID();
    nlohmann::ordered_json storages = nlohmann::ordered_json::array();
    uint64_t capacity = 0;
    uint64_t used = 0;
    for (const auto& [key, entry] : context.entries()) {
        storages.push_back({{"path", entry.path()},
                            {"status", entry.status()},
                            {"statusText", entry.statusText()},
                            {"usedBytes", entry.usedBytes()},
                            {"capacity", entry.fileSize()},
                            {"recorded", periodJson(entry.recordingInterval())}});
        if (entry.status() == StorageFileEntry::Good) {
            capacity += entry.fileSize();
            used += entry.usedBytes();
        }
    }
    Interval period = context.group().recordingInterval();
    report["storages"] = storages;
    report["capacity"] = capacity;
    report["usedBytes"] = used;
    report["recorded"] = periodJson(period);
    context.unload();
    if (json) {
        std::printf("%s\n", report.dump(2).c_str());
        return 0;
    }
    std::printf("Group file:       %s\n", groupPath.c_str());
    std::printf("Repository ID:    %s\n", report["repositoryID"].get<std::string>().c_str());
    std::printf("Last storage:     %s (section %u)\n",
                report["lastStorageID"].get<std::string>().empty() ? "-"
                                                                   : report["lastStorageID"].get<std::string>().c_str(),
                report["lastRecordingSectionID"].get<uint32_t>());
    std::printf("Storages:         %zu\n", storages.size());
    for (const auto& s : storages) {
        std::printf("  %s\n      %-13s used %llu of %llu bytes, recorded %s\n", s["path"].get<std::string>().c_str(),
                    s["statusText"].get<std::string>().c_str(), s["usedBytes"].get<unsigned long long>(),
                    s["capacity"].get<unsigned long long>(),
                    s["recorded"].is_null()
                        ? "-"
                        : (s["recorded"]["from"].get<std::string>() + " ~ " + s["recorded"]["to"].get<std::string>())
                              .c_str());
    }
    std::printf("Capacity:         %llu bytes\n", static_cast<unsigned long long>(capacity));
    std::printf("Used:             %llu bytes\n", static_cast<unsigned long long>(used));
    std::printf("Recorded:         %s\n", periodText(period).c_str());
    return 0;
}

int add(const std::string& groupPath, const std::string& given, const std::string& size, uint32_t pageSize) {
    std::string file = fullPath(given);
    StorageGroupFile group;
    std::string problem;
    if (!loadForChange(group, groupPath, problem)) {
        return fail(problem);
    }
    if (group.containsStorageFile(file)) {
        return fail(file + " is already in " + groupPath);
    }
    std::optional<UniqueID> repository = group.repositoryUniqueID();
    if (!repository) {
        return fail(groupPath + " names no valid repository ID");
    }
    bool present = exists(file, problem);
    if (!problem.empty()) {
        return fail(problem);
    }
    try {
        if (!size.empty()) {
            uint64_t bytes = 0;
            if (!TarsilCommands::parseSize(size, bytes)) {
                return fail("'" + size + "' is not a size (bytes, or a number with K, M, G or T)");
            }
            if (std::string wrong = sizeProblem(bytes, pageSize); !wrong.empty()) {
                return fail(wrong);
            }
            if (present) {
                return fail(file + " already exists; with --size tarsil group add only makes new storage files");
            }
            StorageGroupContext::createStorageFile(file, bytes, *repository, pageSize);
        } else if (!present) {
            return fail(file + ": no such storage file (give --size to create one)");
        }
        group.addStorageFile(file);
        group.close();
    } catch (const Exception& e) {
        return fail("adding " + file + " failed: " + messageOf(e));
    }
    std::printf("added %s to %s\n", file.c_str(), groupPath.c_str());
    return 0;
}

int remove(const std::string& groupPath, const std::string& file) {
    StorageGroupFile group;
    std::string problem;
    if (!loadForChange(group, groupPath, problem)) {
        return fail(problem);
    }
    try {
        // Listed as given, or as the full path group files keep.
        if (!group.removeStorageFile(file) && !group.removeStorageFile(fullPath(file))) {
            return fail(file + " is not in " + groupPath);
        }
        group.close();
    } catch (const Exception& e) {
        return fail("removing " + file + " failed: " + messageOf(e));
    }
    std::printf("removed %s from %s (the file itself is kept)\n", file.c_str(), groupPath.c_str());
    return 0;
}

}  // namespace TarsilGroupCommands
