#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;

// One connection to an SQLite database file. Every engine error is thrown as a
// DatabaseException carrying the engine's result code and message. The connection itself
// does not lock: callers that share it between threads hold the database mutex of the
// DataWarehouse around every statement, which also keeps the error message and the last
// inserted row id of a statement together with it.
class Database {
public:
    Database();
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Closes any open connection, then opens `path` for reading and writing, creating it
    // when missing. A database file this call creates is readable by its owner only
    // (0600): it holds recorder passwords, and the engine gives its journal the same mode.
    // A busy time-out above 0 makes statements wait that many milliseconds for a lock
    // held by another process before failing.
    void open(const char* path, int busyTimeoutMs);
    void close();
    bool isOpen() const { return _handle != nullptr; }

    // Runs one or more statements, discarding any rows.
    void execute(const char* sql);
    // Runs `sql` inside a transaction, so that it either takes effect completely or not
    // at all. Inside a transaction that is already open it runs as part of that one.
    // On failure the transaction it began is rolled back before the error is rethrown:
    // a transaction left open would make every later BEGIN fail.
    void executeInTransaction(const char* sql);
    // Rolls back the open transaction, if any; never throws.
    void rollbackQuietly();
    bool inTransaction() const;

    // Names of the tables and views, temporary ones included, in alphabetical order.
    void tableNames(std::vector<std::string>& names);
    int64_t lastInsertRowId() const;
    // Rows changed by the last INSERT, UPDATE or DELETE.
    int changes() const;

    sqlite3* handle() const { return _handle; }

private:
    void requireOpen(const char* file, int line, const char* function) const;

    sqlite3* _handle = nullptr;
};
