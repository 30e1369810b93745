#pragma once

#include <cstdint>
#include <string>

// One storage of a recorder (recorders with several disks or volumes let the client pick
// the one to play from). The name is kept to 255 characters. A plain value.
struct StorageListEntry {
    uint32_t storageID = 0;
    std::string name;

    friend bool operator==(const StorageListEntry&, const StorageListEntry&) = default;
};
