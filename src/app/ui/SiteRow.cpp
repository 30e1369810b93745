#include "app/ui/SiteRow.h"

#include <cmath>
#include <cstdio>

#include "app/tables/SystemLogCode.h"
#include "base/TextOf.h"

namespace SiteRow {

int pageStatus(int status) {
    switch (status) {
        case RecordSite::Connecting:
        case RecordSite::Archiving:
        case RecordSite::Failed:
            return status;
        case RecordSite::NoSpace:
        case RecordSite::NotArchivable:
            return 4;
        default:
            return 2;
    }
}

std::string sizeText(uint64_t megabytes) {
    if (megabytes < 1000) {
        return std::to_string(megabytes) + " MB";
    }
    uint64_t tenths = static_cast<uint64_t>(std::floor(static_cast<double>(megabytes) / 102.4));
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0) {
        text += "." + std::to_string(tenths % 10);
    }
    return text + " GB";
}

const char* speedText(int speedClass) {
    switch (speedClass) {
        case 0:
            return "Archiving paused.";
        case 1:
            return "Archiving speed is bad.";
        case 2:
            return "Archiving speed is normal.";
        case 3:
            return "Archiving speed is good.";
        default:
            return "";
    }
}

std::string intervalText(const Interval& interval) {
    if (!interval.from().isValid() || !interval.to().isValid()) {
        return "-";
    }
    return textOf(interval.from()) + " ~ " + textOf(interval.to());
}

namespace {

nlohmann::json optionalNumber(const std::optional<int64_t>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

}  // namespace

nlohmann::json json(const RecordSite& site, const CQuillfenDoc::Progress& progress, const Interval& period) {
    uint64_t usedMB = site.usedBytes() >> 20;
    uint64_t capacityMB = site.capacity() >> 20;
    const RecordSite::LastEvent& event = site.lastEvent();
    nlohmann::json row = {
        {"key", site.scheduleKey()},
        {"id", textOf(site.id())},
        {"name", site.name()},
        {"address", site.address()},
        {"port", site.port()},
        {"username", site.username()},
        {"status", site.status()},
        {"pageStatus", pageStatus(site.status())},
        {"statusText", site.statusText()},
        {"usedBytes", site.usedBytes()},
        {"capacity", site.capacity()},
        {"usedText", sizeText(usedMB)},
        {"capacityText", sizeText(capacityMB)},
        {"overwrite", site.overwrite()},
        {"speedClass", site.speedClass()},
        {"speedText", speedText(site.speedClass())},
        {"lastArchived", site.lastArchivedTime().isValid() ? textOf(site.lastArchivedTime()) : ""},
        {"period", intervalText(period)},
        {"lastEvent",
         {{"type", event.type},
          {"value", event.value},
          {"text", event.text},
          {"code", event.logCode},
          {"logText", SystemLogCode::text(event.logCode)}}},
        {"archiving", site.archiving()},
        {"rescheduled", site.rescheduled()},
        {"schedule", site.schedule()},
        {"timeToStart", textOf(site.timeToStart())},
        {"alwaysArchive", site.alwaysArchive()},
        {"archiveStart", textOf(site.timeArchiveStart())},
        {"archiveStop", textOf(site.timeArchiveStop())},
        {"groupFile", site.storageGroupFile()},
    };
    row["progress"] = {
        {"recorderEnd", progress.recorderEnd ? textOf(*progress.recorderEnd) : ""},
        {"archivedUpTo", progress.archivedUpTo.isValid() ? textOf(progress.archivedUpTo) : ""},
        {"speed", progress.speed},
        {"lagSeconds", optionalNumber(progress.lagSeconds)},
        {"catchUpSeconds", optionalNumber(progress.catchUpSeconds)},
    };
    return row;
}

}  // namespace SiteRow
