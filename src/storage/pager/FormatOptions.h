#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "base/BitMask32.h"
#include "base/UniqueID.h"
#include "storage/pager/RecorderType.h"
#include "storage/pager/TarsilFormat.h"

// What a new storage is formatted with. The flags are stored in the superblock and
// returned, never interpreted; the info entries are written into the info track after
// formatting. A plain value.
struct FormatOptions {
    UniqueID repositoryID;
    uint32_t pageSize = TarsilFormat::DefaultPageSize;
    std::string description;
    RecorderType recorderType;
    BitMask32 flags;
    std::map<std::string, std::string> info;
};
