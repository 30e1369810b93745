#pragma once

#include "storage/StorageMigrator.h"

// Version 2 to 3: a storage whose free-page list is named only by the superblock's
// legacy field gets a "FREE" track for it. Version 1 storages are refused.
class StorageMigratorV3 : public StorageMigrator {
public:
    uint32_t targetVersion() const override { return 3; }
    bool migrate(Storage& storage) override;
};
