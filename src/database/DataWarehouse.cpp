#include "database/DataWarehouse.h"

#include <atomic>
#include <mutex>

DataWarehouse& DataWarehouse::instance() {
    static std::atomic<DataWarehouse*> slot{nullptr};
    return createOnce(slot, [] { return new DataWarehouse(); });
}

void DataWarehouse::open(const std::string& path, int busyTimeoutMs) {
    std::lock_guard<Mutex> lock(_mutex);
    _path.clear();
    _database.open(path.c_str(), busyTimeoutMs);
    _path = path;
}

void DataWarehouse::close() {
    std::lock_guard<Mutex> lock(_mutex);
    _database.close();
    _path.clear();
}
