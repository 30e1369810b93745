#include "database/Database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "base/DatabaseException.h"
#include "base/Trace.h"
#include "database/RowSet.h"

namespace {

// Creates an empty file readable by its owner only, unless something already exists at
// `path`. An empty file is a valid empty database to the engine. Errors are left to the
// engine's own open, which reports them with its text.
void createPrivateFile(const char* path) {
    std::string_view name(path);
    if (name.empty() || name == ":memory:" || name.starts_with("file:")) {
        return;
    }
    int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
    }
}

}  // namespace

Database::Database() = default;

Database::~Database() {
    close();
}

void Database::open(const char* path, int busyTimeoutMs) {
    close();
    createPrivateFile(path);
    sqlite3* handle = nullptr;
    int rc = sqlite3_open_v2(path, &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = handle != nullptr ? sqlite3_errmsg(handle) : sqlite3_errstr(rc);
        sqlite3_close(handle);
        throw DatabaseException(QF_HERE, rc, message.c_str());
    }
    _handle = handle;
    if (busyTimeoutMs > 0) {
        sqlite3_busy_timeout(_handle, busyTimeoutMs);
    }
    if (sqlite3_db_readonly(_handle, "main") == 1) {
        QF_TRACE("Database::open: %s is write-protected; opened for reading only", path);
    }
}

void Database::close() {
    if (_handle != nullptr) {
        // Statements are finalised by their row sets before this; close_v2 keeps the
        // connection alive until a forgotten one is finalised instead of failing.
        sqlite3_close_v2(_handle);
        _handle = nullptr;
    }
}

void Database::execute(const char* sql) {
    requireOpen(QF_HERE);
    char* error = nullptr;
    int rc = sqlite3_exec(_handle, sql, nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        std::string message = error != nullptr ? error : sqlite3_errstr(rc);
        sqlite3_free(error);
        throw DatabaseException(QF_HERE, rc, message.c_str());
    }
}

void Database::executeInTransaction(const char* sql) {
    if (inTransaction()) {
        execute(sql);
        return;
    }
    execute("BEGIN;");
    try {
        execute(sql);
        execute("COMMIT;");
    } catch (...) {
        rollbackQuietly();
        throw;
    }
}

void Database::rollbackQuietly() {
    if (_handle != nullptr && inTransaction()) {
        int rc = sqlite3_exec(_handle, "ROLLBACK;", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            QF_TRACE("Database::rollbackQuietly: %s", sqlite3_errmsg(_handle));
        }
    }
}

bool Database::inTransaction() const {
    return _handle != nullptr && sqlite3_get_autocommit(_handle) == 0;
}

void Database::tableNames(std::vector<std::string>& names) {
    RowSet rows(*this,
                "SELECT name FROM sqlite_master WHERE type IN ('table','view') AND name NOT LIKE 'sqlite_%' "
                "UNION ALL SELECT name FROM sqlite_temp_master WHERE type IN ('table','view') ORDER BY 1;");
    while (rows.next()) {
        names.emplace_back(rows.text(0));
    }
}

int64_t Database::lastInsertRowId() const {
    return _handle != nullptr ? sqlite3_last_insert_rowid(_handle) : 0;
}

int Database::changes() const {
    return _handle != nullptr ? sqlite3_changes(_handle) : 0;
}

void Database::requireOpen(const char* file, int line, const char* function) const {
    if (_handle == nullptr) {
        throw DatabaseException(file, line, function, SQLITE_MISUSE, "the database is not open");
    }
}
