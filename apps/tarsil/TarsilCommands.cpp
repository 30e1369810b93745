#include "TarsilCommands.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "base/Exception.h"
#include "base/File.h"
#include "base/TextOf.h"
#include "storage/FixedSizeFileStorage.h"
#include "storage/aio/StorageDevice.h"
#include "storage/pager/FreePageListPage.h"
#include "storage/pager/IFreePageAllocator.h"
#include "storage/pager/Page.h"
#include "storage/pager/TarsilFormat.h"

namespace TarsilCommands {

namespace {

int fail(const std::string& line) {
    std::fprintf(stderr, "tarsil: %s\n", line.c_str());
    return 1;
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

// A file another writer holds (its write lock) refuses a write handle.
bool isLockedByWriter(const std::string& path) {
    uint64_t size = 0;
    int handle = StorageDevice::openHandle(path.c_str(), false, size);
    if (handle != -1) {
        File::close(handle);
        return false;
    }
    return !File::isReadOnly(path.c_str());
}

// The free pages the list page names (a read-only storage does not load its list).
uint64_t storedFreePageCount(Storage& storage) {
    TrackListItem item;
    uint32_t number = storage.findTrack(PageType::FreePageList, item) ? item.lastPage()
                                                                      : storage.superBlock().freePageNumber();
    if (!storage.superBlock().isPageNumber(number)) {
        return 0;
    }
    FreePageListPage page(storage.superBlock(), storage.pageCache());
    page.loadForRead(number);
    uint64_t total = 0;
    if (page.type().equals(PageType::FreePageList) && page.isConsistent()) {
        for (uint32_t i = 0; i < page.itemCount(); ++i) {
            FreePageListItem interval;
            page.readItem(i, interval);
            if (interval.first() <= interval.last()) {
                total += interval.count();
            }
        }
    }
    return total;
}

struct Report {
    nlohmann::ordered_json json;
    std::vector<std::string> text;
};

void describeSuperBlock(SuperBlock& sb, Report& r) {
    r.json["version"] = sb.version();
    r.json["repositoryID"] = textOf(sb.repositoryID());
    r.json["storageID"] = textOf(sb.storageID());
    r.json["recorderType"] = textOf(sb.recorderType());
    r.json["pageSize"] = sb.pageSize();
    r.json["pageCount"] = sb.pageCount();
    r.json["byteOrder"] = sb.byteOrder() == 1 ? "big-endian" : "little-endian";
    r.json["formattedTime"] = textOf(sb.formattedTime());
    r.json["description"] = sb.description();
    r.json["nextItemID"] = sb.nextItemID();
    r.json["timeStampTime"] = textOf(sb.timeStampTime());
    r.json["timeStampBasis"] = sb.timeStampBasis();
    r.json["flags"] = hex(sb.flags().value());
    nlohmann::ordered_json tracks = nlohmann::ordered_json::array();
    uint32_t count = sb.trackCount();
    for (uint32_t i = 0; i < count; ++i) {
        TrackListItem item;
        sb.trackAt(i, item);
        tracks.push_back({{"type", textOf(item.type())},
                          {"firstPage", item.firstPage()},
                          {"firstChecksum", hex(item.firstPageChecksum())},
                          {"lastPage", item.lastPage()},
                          {"lastChecksum", hex(item.lastPageChecksum())}});
    }
    r.json["tracks"] = tracks;
}

void printText(const nlohmann::ordered_json& j) {
    const char* fields[][2] = {{"path", "File"},
                               {"version", "Version"},
                               {"repositoryID", "Repository ID"},
                               {"storageID", "Storage ID"},
                               {"recorderType", "Recorder type"},
                               {"pageSize", "Page size"},
                               {"pageCount", "Page count"},
                               {"freePages", "Free pages"},
                               {"byteOrder", "Byte order"},
                               {"formattedTime", "Formatted"},
                               {"description", "Description"},
                               {"nextItemID", "Next item ID"},
                               {"timeStampTime", "Time stamp time"},
                               {"timeStampBasis", "Time stamp basis"},
                               {"flags", "Flags"},
                               {"state", "State"}};
    for (auto& field : fields) {
        if (j.contains(field[0])) {
            const auto& v = j[field[0]];
            std::printf("%-17s %s\n", (std::string(field[1]) + ":").c_str(),
                        v.is_string() ? v.get<std::string>().c_str() : v.dump().c_str());
        }
    }
    std::printf("Tracks:\n");
    for (const auto& t : j["tracks"]) {
        std::printf("  %-4s first %u (%s)  last %u (%s)\n", t["type"].get<std::string>().c_str(),
                    t["firstPage"].get<uint32_t>(), t["firstChecksum"].get<std::string>().c_str(),
                    t["lastPage"].get<uint32_t>(), t["lastChecksum"].get<std::string>().c_str());
    }
    if (j.contains("journal")) {
        const auto& journal = j["journal"];
        std::printf(
            "Journal:          %s\n",
            journal["empty"].get<bool>()
                ? "empty"
                : ("holds " + journal["records"].dump() + " records of an unfinished change").c_str());
    }
    if (j.contains("info")) {
        std::printf("Info:\n");
        for (const auto& [key, value] : j["info"].items()) {
            std::printf("  %s = %s\n", key.c_str(), value.get<std::string>().c_str());
        }
    }
    if (j.contains("log")) {
        std::printf("Log (last %zu):\n", j["log"].size());
        for (const auto& line : j["log"]) {
            std::printf("  %s [%d] %s\n", line["time"].get<std::string>().c_str(), line["level"].get<int>(),
                        line["text"].get<std::string>().c_str());
        }
    }
}

}  // namespace

bool parseSize(const std::string& text, uint64_t& bytes) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    size_t end = 0;
    unsigned long long value = 0;
    try {
        value = std::stoull(text, &end);
    } catch (const std::exception&) {
        return false;
    }
    std::string suffix = text.substr(end);
    int shift = 0;
    if (suffix.empty() || suffix == "B") {
        shift = 0;
    } else if (suffix == "K" || suffix == "KiB") {
        shift = 10;
    } else if (suffix == "M" || suffix == "MiB") {
        shift = 20;
    } else if (suffix == "G" || suffix == "GiB") {
        shift = 30;
    } else if (suffix == "T" || suffix == "TiB") {
        shift = 40;
    } else {
        return false;
    }
    if (shift > 0 && value > (~0ull >> shift)) {
        return false;
    }
    bytes = value << shift;
    return true;
}

int format(const FormatOptions& options) {
    uint64_t size = 0;
    if (!parseSize(options.size, size)) {
        return fail("'" + options.size + "' is not a size (bytes, or a number with K, M, G or T)");
    }
    uint32_t page = options.pageSize;
    if (page == 0 || page % 4096 != 0 || page > TarsilFormat::MaxPageSize) {
        return fail("page size " + std::to_string(page) + " is not a multiple of 4096 up to 1 GiB");
    }
    uint64_t minimum = TarsilFormat::FormatReserve + 3ull * page;
    if (size < minimum) {
        return fail("size " + std::to_string(size) + " is below what one storage of " + std::to_string(page) +
                    "-byte pages needs (" + std::to_string(minimum) + " bytes: superblock and three pages)");
    }
    if ((size - TarsilFormat::FormatReserve) / page > 0xFFFFFFFFull) {
        return fail("size " + std::to_string(size) + " holds more pages than a storage can count");
    }
    ::FormatOptions formatOptions;
    try {
        if (!options.repository.empty()) {
            formatOptions.repositoryID = UniqueID(options.repository.c_str());
        }
    } catch (const Exception&) {
        return fail("'" + options.repository + "' is not a repository ID (8-4-4-4-12 hexadecimal)");
    }
    try {
        if (File::exists(options.path.c_str())) {
            if (isLockedByWriter(options.path)) {
                return fail(options.path + " is in use by another writer");
            }
            return fail(options.path + " already exists; tarsil format only creates new storage files");
        }
        File::createPreallocated(options.path.c_str(), size);
    } catch (const Exception& e) {
        return fail("cannot create " + options.path + ": " + messageOf(e));
    }
    formatOptions.pageSize = page;
    formatOptions.description = options.description;
    formatOptions.recorderType = RecorderType::Flac;
    FixedSizeFileStorage storage;
    try {
        storage.open(options.path.c_str());
        if (storage.isReadOnly()) {
            storage.close(false);
            File::remove(options.path.c_str());
            return fail(options.path + " cannot be opened for writing");
        }
        storage.format(formatOptions);
        if (!storage.close(true)) {
            return fail("formatting " + options.path + " did not complete: closing the storage failed");
        }
    } catch (const Exception& e) {
        storage.close(false);
        File::remove(options.path.c_str());
        return fail("formatting " + options.path + " failed: " + messageOf(e));
    }
    std::printf("formatted %s: %llu pages of %u bytes, repository %s\n", options.path.c_str(),
                static_cast<unsigned long long>((size - TarsilFormat::FormatReserve) / page), page,
                textOf(formatOptions.repositoryID).c_str());
    return 0;
}

int info(const std::string& path, bool json, int logLines) {
    try {
        if (!File::exists(path.c_str())) {
            return fail(path + ": no such file");
        }
    } catch (const Exception& e) {
        return fail(path + ": " + messageOf(e));
    }
    Report r;
    r.json["path"] = path;
    FixedSizeFileStorage storage;
    storage.setReadOnly(true);
    try {
        bool opened = storage.open(path.c_str());
        if (!opened && !storage.isOpen()) {
            return fail(path + ": cannot be read");
        }
        if (!opened) {
            // Not a storage, or one whose check failed: say which from the superblock.
            SuperBlock sb;
            uint64_t size = 0;
            int handle = StorageDevice::openHandle(path.c_str(), true, size);
            sb.load(handle, handle, 0, StorageDevice::ioMinBlockSize(handle));
            bool valid = sb.isValid();
            if (valid) {
                describeSuperBlock(sb, r);
            }
            sb.clear();
            File::close(handle);
            storage.close(false);
            if (!valid) {
                return fail(path + " is not a storage file (no valid superblock)");
            }
            r.json["state"] =
                "not opened: the journal holds an unfinished change or the check failed; "
                "a writable open repairs it";
        } else {
            describeSuperBlock(storage.superBlock(), r);
            r.json["freePages"] = storedFreePageCount(storage);
            r.json["state"] = "consistent";
            Page* journal = storage.journalingHandler().journal();
            bool empty = storage.transactionHandler()->isJournalEmpty();
            r.json["journal"] = {{"empty", empty}, {"records", empty ? 0u : journal->itemCount()}};
            std::map<std::string, std::string> values;
            storage.infoAll(values);
            r.json["info"] = nlohmann::ordered_json::object();
            for (const auto& [key, value] : values) {
                r.json["info"][key] = value;
            }
            std::vector<LogTrack::Message> messages = storage.logMessages();
            size_t from = messages.size() > size_t(logLines) ? messages.size() - size_t(logLines) : 0;
            r.json["log"] = nlohmann::ordered_json::array();
            for (size_t i = from; i < messages.size(); ++i) {
                r.json["log"].push_back({{"time", textOf(messages[i].time)},
                                         {"level", messages[i].level},
                                         {"text", messages[i].text}});
            }
            storage.close(false);
        }
    } catch (const Exception& e) {
        storage.close(false);
        return fail(path + ": " + messageOf(e));
    }
    if (json) {
        std::printf("%s\n", r.json.dump(2).c_str());
    } else {
        printText(r.json);
    }
    return 0;
}

}  // namespace TarsilCommands
