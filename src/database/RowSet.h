#pragma once

#include <cstdint>

struct sqlite3_stmt;
class Database;

// One prepared statement of a Database and the row it is positioned on. next() steps to
// the following row; the column getters read the current row by index (0 first). The
// statement is finalised by reset(), by a new query() and by the destructor. Used by one
// thread at a time, under the database mutex like any other statement.
class RowSet {
public:
    // Prepares `sql` when it is not null.
    explicit RowSet(Database& database, const char* sql = nullptr);
    ~RowSet();
    RowSet(const RowSet&) = delete;
    RowSet& operator=(const RowSet&) = delete;

    // Finalises any previous statement and prepares `sql`.
    void query(const char* sql);
    // True when positioned on a row, false when the rows are done. Any other outcome
    // finalises the statement and throws DatabaseException.
    bool next();
    void reset();

    int columnCount() const;
    // The engine's storage class of the column: SQLITE_INTEGER, SQLITE_TEXT, SQLITE_NULL...
    int columnType(int column) const;
    bool isNull(int column) const;
    int integer(int column) const;
    int64_t integer64(int column) const;
    double real(int column) const;
    // Never null: a NULL column reads as "". Valid until the next step or reset.
    const char* text(int column) const;
    // Null for a NULL or empty column; `bytes` tells the length.
    const void* blob(int column) const;
    int bytes(int column) const;
    const char* columnName(int column) const;

private:
    Database& _database;
    sqlite3_stmt* _statement = nullptr;
};
