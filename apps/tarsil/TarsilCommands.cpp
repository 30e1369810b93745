#include "TarsilCommands.h"

#include "TarsilCheck.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "base/Exception.h"
#include "base/File.h"
#include "base/TextOf.h"
#include "storage/EventElement.h"
#include "storage/FixedSizeFileStorage.h"
#include "storage/StorageUtility.h"
#include "storage/TextInElement.h"
#include "storage/TrackIterator.h"
#include "storage/aio/StorageDevice.h"
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

// Per track: its pages along the chain and the item IDs at both ends. A link that does
// not hold ends the walk and is named.
void describeTrackContents(Storage& storage, Report& r) {
    SuperBlock& sb = storage.superBlock();
    for (auto& t : r.json["tracks"]) {
        TrackListItem item;
        PageType type;
        bool found = false;
        for (const TrackListItem& candidate : storage.tracks()) {
            if (textOf(candidate.type()) == t["type"].get<std::string>()) {
                item = candidate;
                found = true;
            }
        }
        if (!found) {
            continue;
        }
        type = item.type();
        Page page(sb, storage.pageCache());
        uint32_t number = item.firstPage();
        uint32_t checksum = item.firstPageChecksum();
        uint64_t pages = 0;
        uint64_t firstID = 0;
        uint64_t lastID = 0;
        std::string broken;
        for (uint32_t steps = 0; steps <= sb.pageCount(); ++steps) {
            if (!sb.isPageNumber(number)) {
                broken = "link to page " + std::to_string(number) + " outside the file";
                break;
            }
            page.loadHeader(number, true);
            if (!page.type().equals(type) || page.checksum() != checksum) {
                broken = "page " + std::to_string(number) + " does not carry the link to it";
                break;
            }
            ++pages;
            if (pages == 1) {
                firstID = page.firstItemID();
            }
            if (!page.isEmpty()) {
                lastID = page.lastItemID();
            }
            if (number == item.lastPage() || page.next() == 0) {
                break;
            }
            checksum = page.nextChecksum();
            number = page.next();
        }
        t["pages"] = pages;
        t["firstItemID"] = firstID;
        t["lastItemID"] = lastID;
        if (!broken.empty()) {
            t["broken"] = broken;
        }
    }
    nlohmann::ordered_json sections = nlohmann::ordered_json::array();
    for (const RecordingSection& section : storage.recordingSections()) {
        nlohmann::ordered_json intervals = nlohmann::ordered_json::array();
        for (const Interval& interval : section.intervals()) {
            intervals.push_back({{"from", textOf(interval.from())}, {"to", textOf(interval.to())}});
        }
        nlohmann::ordered_json dates = nlohmann::ordered_json::array();
        for (const RecordingSection::DateEntry& date : section.dates()) {
            dates.push_back({{"date", textOf(date.date)}, {"firstID", date.firstID}, {"lastID", date.lastID}});
        }
        sections.push_back({{"id", section.id()},
                            {"firstID", section.firstMediaID()},
                            {"lastID", section.lastMediaID()},
                            {"stopped", section.isStopped()},
                            {"intervals", intervals},
                            {"dates", dates}});
    }
    r.json["sections"] = sections;
    uint64_t events = 0;
    TrackIterator it(storage, PageType::Event);
    EventElement e;
    for (it.toFirst(); it.read(e); it.next()) {
        ++events;
    }
    std::vector<TextInElement> texts;
    storage.textIns(Interval(), texts);
    r.json["events"] = events;
    r.json["textIns"] = texts.size();
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
        std::printf("  %-4s first %u (%s)  last %u (%s)", t["type"].get<std::string>().c_str(),
                    t["firstPage"].get<uint32_t>(), t["firstChecksum"].get<std::string>().c_str(),
                    t["lastPage"].get<uint32_t>(), t["lastChecksum"].get<std::string>().c_str());
        if (t.contains("pages")) {
            std::printf("  %llu pages, items %llu..%llu", t["pages"].get<unsigned long long>(),
                        t["firstItemID"].get<unsigned long long>(), t["lastItemID"].get<unsigned long long>());
        }
        if (t.contains("broken")) {
            std::printf("  BROKEN: %s", t["broken"].get<std::string>().c_str());
        }
        std::printf("\n");
    }
    if (j.contains("sections")) {
        std::printf("Sections:         %zu\n", j["sections"].size());
        for (const auto& s : j["sections"]) {
            std::printf("  #%u  items %llu..%llu%s\n", s["id"].get<uint32_t>(), s["firstID"].get<unsigned long long>(),
                        s["lastID"].get<unsigned long long>(), s["stopped"].get<bool>() ? "  (stopped)" : "");
            for (const auto& i : s["intervals"]) {
                std::printf("      %s ~ %s\n", i["from"].get<std::string>().c_str(), i["to"].get<std::string>().c_str());
            }
            for (const auto& d : s["dates"]) {
                std::printf("      date %s  items %llu..%llu\n", d["date"].get<std::string>().c_str(),
                            d["firstID"].get<unsigned long long>(), d["lastID"].get<unsigned long long>());
            }
        }
    }
    if (j.contains("events")) {
        std::printf("Events:           %llu\n", j["events"].get<unsigned long long>());
        std::printf("Text-in:          %llu\n", j["textIns"].get<unsigned long long>());
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
    if (j.contains("lastCorrection")) {
        if (j["lastCorrection"].empty()) {
            std::printf("Last correction: none recorded\n");
        } else {
            std::printf("Last correction:\n");
            for (const auto& line : j["lastCorrection"]) {
                std::printf("  %s\n", line.get<std::string>().c_str());
            }
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
            r.json["freePages"] = StorageUtility(storage).storedFreePageCount();
            describeTrackContents(storage, r);
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
            r.json["lastCorrection"] = TarsilCheck::correctionLines(messages, false);
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
