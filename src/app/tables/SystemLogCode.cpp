#include "app/tables/SystemLogCode.h"

namespace SystemLogCode {

const char* text(int code) {
    static const char* const texts[] = {
        "",
        "Start archiving",
        "Archiving stopped",
        "Schedule added",
        "Schedule deleted",
        "Scheduled",
        "Site address changed",
        "Playback port changed",
        "Username changed",
        "Storage added",
        "Storage removed",
        "Storage formatted",
        "Not enough space to archive",
        "Storage I/O Error occured",
        "Archiving speed is slow",
        "Failed to find the site",
        "Failed to login",
        "Network playback permission denied",
        "Network playback channel full",
        "Network playback protocol not supported",
        "Connection timeout",
        "Connection refused",
        "Disconnected",
        "Failed to connect",
    };
    constexpr int count = static_cast<int>(sizeof(texts) / sizeof(texts[0]));
    return code >= 0 && code < count ? texts[code] : "";
}

}  // namespace SystemLogCode

namespace SystemLogLevel {

const char* name(int level) {
    static const char* const names[] = {"Fatal", "Error", "Warn", "Info", "Debug"};
    return level >= 0 && level <= Debug ? names[level] : "";
}

}  // namespace SystemLogLevel
