#include "TarsilCheck.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "base/Exception.h"
#include "base/File.h"
#include "storage/FixedSizeFileStorage.h"
#include "storage/util/StorageChecker.h"

namespace TarsilCheck {

namespace {

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// A line every writable open logs, whether or not anything was wrong ("truncate before
// 500" states the range; a line naming a track says what was cut).
bool isRoutine(const std::string& text) {
    bool rangeOnly = startsWith(text, "[CORRECTION] truncate ") && text.find(':') == std::string::npos;
    return rangeOnly || startsWith(text, "[JOURNAL] Empty") || startsWith(text, "[RECOVERY] no need") ||
           startsWith(text, "[CORRECTION] load last page");
}

bool isCorrectionLine(const std::string& text) {
    return startsWith(text, "[CORRECTION]") || startsWith(text, "[RECOVERY]") || startsWith(text, "[JOURNAL]") ||
           startsWith(text, "ROLLBACK: ") || startsWith(text, "[OPEN FAIL]");
}

struct Result {
    nlohmann::ordered_json json;
    int code = Sound;
};

void print(const Result& r, bool json, const char* verb) {
    if (json) {
        std::printf("%s\n", r.json.dump(2).c_str());
        return;
    }
    if (r.json.contains("repairs")) {
        if (r.json["repairs"].empty()) {
            std::printf("%s: nothing needed repair\n", r.json["path"].get<std::string>().c_str());
        }
        for (const auto& line : r.json["repairs"]) {
            std::printf("repaired: %s\n", line.get<std::string>().c_str());
        }
    }
    for (const auto& line : r.json["findings"]) {
        std::printf("%s\n", line.get<std::string>().c_str());
    }
    std::printf("%s: %s (%s)\n", r.json["path"].get<std::string>().c_str(), r.json["state"].get<std::string>().c_str(),
                verb);
}

Result failure(const std::string& path, const std::string& why) {
    Result r;
    r.json["path"] = path;
    r.json["state"] = "cannot be opened";
    r.json["findings"] = nlohmann::ordered_json::array({why});
    r.code = CannotOpen;
    return r;
}

void judge(Result& r, const std::vector<std::string>& findings) {
    r.json["findings"] = findings;
    r.code = findings.empty() ? Sound : NeedsCorrection;
    r.json["state"] = findings.empty() ? "sound" : "needs correction";
}

std::vector<std::string> thoroughFindings(Storage& storage) {
    StorageChecker checker(storage);
    checker.checkThoroughly();
    std::vector<std::string> out;
    for (const StorageChecker::Finding& f : checker.findings()) {
        out.push_back(f.text);
    }
    return out;
}

}  // namespace

std::vector<std::string> correctionLines(const std::vector<LogTrack::Message>& messages, bool lastOpenOnly) {
    std::vector<std::string> block;
    std::vector<std::string> last;
    auto close = [&] {
        if (!block.empty() || lastOpenOnly) {
            last = block;
        }
        block.clear();
    };
    for (const LogTrack::Message& m : messages) {
        if (startsWith(m.text, "[OPEN] ") && m.text.find("time_stamp_basis") != std::string::npos) {
            close();
        } else if (isCorrectionLine(m.text) && !isRoutine(m.text)) {
            block.push_back(m.text);
        }
    }
    close();
    return last;
}

int check(const std::string& path, bool json) {
    Result r;
    r.json["path"] = path;
    try {
        if (!File::exists(path.c_str())) {
            r = failure(path, "no such file");
        } else {
            FixedSizeFileStorage storage;
            storage.setReadOnly(true);
            if (storage.open(path.c_str())) {
                judge(r, thoroughFindings(storage));
                storage.close(false);
            } else if (!storage.isOpen()) {
                r = failure(path, "the file cannot be read");
            } else if (storage.openFindings().empty()) {
                storage.close(false);
                r = failure(path, "not a storage file (no valid superblock)");
            } else {
                judge(r, storage.openFindings());
                storage.close(false);
            }
        }
    } catch (const Exception& e) {
        r = failure(path, messageOf(e));
    }
    print(r, json, "checked without changes");
    return r.code;
}

int repair(const std::string& path, bool json) {
    Result r;
    r.json["path"] = path;
    try {
        if (!File::exists(path.c_str())) {
            r = failure(path, "no such file");
        } else {
            FixedSizeFileStorage storage;
            bool opened = storage.open(path.c_str());
            if (!opened) {
                bool readable = storage.isOpen();
                storage.close(false);
                r = failure(path, readable ? "corrupted beyond repair, or not a storage file"
                                           : "the file cannot be read");
            } else if (storage.isReadOnly()) {
                storage.close(false);
                r = failure(path, "the file cannot be opened for writing (read-only, or held by another writer)");
            } else {
                storage.flush();
                r.json["repairs"] = correctionLines(storage.logMessages(), true);
                judge(r, thoroughFindings(storage));
                storage.close(true);
            }
        }
    } catch (const Exception& e) {
        r = failure(path, messageOf(e));
    }
    print(r, json, "opened for writing");
    return r.code;
}

}  // namespace TarsilCheck
