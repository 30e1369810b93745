#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "app/tables/RecordSite.h"
#include "app/ui/CQuillfenDoc.h"
#include "base/Interval.h"

// One row of the schedule list as the station's clients see it: the site's settings
// without its password, its status with the list's texts, storage usage in the list's size
// texts, speed class, archived period, last event, and how far it lags behind its recorder.
// Pure functions.
namespace SiteRow {

// Page status of a site status: 0 connecting, 1 archiving, 2 stopped, 3 failed, 4 cannot
// archive (no space, or not archivable).
int pageStatus(int status);
// A size in megabytes as the list writes it: "512 MB", or "1.4 GB" (tenths cut off).
std::string sizeText(uint64_t megabytes);
// "Archiving paused." ... "Archiving speed is good." for speed classes 0..3.
const char* speedText(int speedClass);
// "2026/12/09 08:00:00 ~ 2026/12/09 09:00:00", or "-" when an end is unset.
std::string intervalText(const Interval& interval);

nlohmann::json json(const RecordSite& site, const CQuillfenDoc::Progress& progress, const Interval& period);

}  // namespace SiteRow
