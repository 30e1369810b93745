#pragma once

#include <string>

#include "base/thread/ISingleton.h"
#include "base/thread/Mutex.h"
#include "database/Database.h"

// The process-wide connection to the configuration database and the database mutex that
// every table holds around each of its statements. The connection is shared by every
// thread that logs or edits sites; the mutex also keeps a statement, its error text and
// its inserted row id together. Created on first use.
class DataWarehouse : public ISingleton {
public:
    static DataWarehouse& instance();

    // Opens `path` (UTF-8), creating it when missing; throws DatabaseException.
    void open(const std::string& path, int busyTimeoutMs);
    void close();
    bool isOpen() const { return _database.isOpen(); }
    const std::string& path() const { return _path; }

    Database& database() { return _database; }
    Mutex& mutex() { return _mutex; }

private:
    DataWarehouse() = default;

    Mutex _mutex;
    Database _database;
    std::string _path;
};
