#include "database/RowSet.h"

#include <sqlite3.h>

#include <string>

#include "base/DatabaseException.h"
#include "database/Database.h"

RowSet::RowSet(Database& database, const char* sql) : _database(database) {
    if (sql != nullptr) {
        query(sql);
    }
}

RowSet::~RowSet() {
    reset();
}

void RowSet::query(const char* sql) {
    reset();
    if (!_database.isOpen()) {
        throw DatabaseException(QF_HERE, SQLITE_MISUSE, "the database is not open");
    }
    int rc = sqlite3_prepare_v2(_database.handle(), sql, -1, &_statement, nullptr);
    if (rc != SQLITE_OK) {
        reset();
        throw DatabaseException(QF_HERE, rc, sqlite3_errmsg(_database.handle()));
    }
}

bool RowSet::next() {
    if (_statement == nullptr) {
        return false;
    }
    int rc = sqlite3_step(_statement);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    std::string message = sqlite3_errmsg(_database.handle());
    reset();
    throw DatabaseException(QF_HERE, rc, message.c_str());
}

void RowSet::reset() {
    if (_statement != nullptr) {
        sqlite3_finalize(_statement);
        _statement = nullptr;
    }
}

int RowSet::columnCount() const {
    return _statement != nullptr ? sqlite3_column_count(_statement) : 0;
}

int RowSet::columnType(int column) const {
    return sqlite3_column_type(_statement, column);
}

bool RowSet::isNull(int column) const {
    return columnType(column) == SQLITE_NULL;
}

int RowSet::integer(int column) const {
    return sqlite3_column_int(_statement, column);
}

int64_t RowSet::integer64(int column) const {
    return sqlite3_column_int64(_statement, column);
}

double RowSet::real(int column) const {
    return sqlite3_column_double(_statement, column);
}

const char* RowSet::text(int column) const {
    const unsigned char* value = sqlite3_column_text(_statement, column);
    return value != nullptr ? reinterpret_cast<const char*>(value) : "";
}

const void* RowSet::blob(int column) const {
    return sqlite3_column_blob(_statement, column);
}

int RowSet::bytes(int column) const {
    return sqlite3_column_bytes(_statement, column);
}

const char* RowSet::columnName(int column) const {
    return sqlite3_column_name(_statement, column);
}
