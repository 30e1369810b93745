#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "base/Time.h"
#include "base/UniqueID.h"

// The values a new schedule is made from: the site, where archiving starts, when it runs,
// and the storage group to create. A plain value.
struct ScheduleWizardResult {
    UniqueID siteID;
    std::string name;
    std::string address;
    int port = 10102;
    std::string username;
    std::string password;
    int startType = 1;  // 1 from first, 2 from last, 3 from startTime
    DateTime startTime;
    bool overwrite = true;
    bool alwaysArchive = true;
    Time archiveStart{0, 0, 0};
    Time archiveStop{23, 59, 59};
    std::string groupFile;
    // Empty when the group is made without storages.
    std::vector<std::string> storageFiles;
    uint64_t storageSize = 0;
};
