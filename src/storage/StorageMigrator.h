#pragma once

#include <cstdint>

class Storage;

// Brings a writable storage of an older format version up to `targetVersion()`.
// Migrators form a chain ordered by target version; the storage runs every one whose
// target lies above the file's version, until one fails.
class StorageMigrator {
public:
    virtual ~StorageMigrator() = default;
    virtual uint32_t targetVersion() const = 0;
    // False when the storage cannot be migrated; it then opens as it is.
    virtual bool migrate(Storage& storage) = 0;
};
