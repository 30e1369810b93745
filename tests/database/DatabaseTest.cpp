#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "TempDir.h"
#include "base/DatabaseException.h"
#include "database/Database.h"
#include "database/FormatableSQL.h"
#include "database/RowSet.h"

namespace {

std::string readText(Database& db, const char* sql) {
    RowSet rows(db, sql);
    return rows.next() ? rows.text(0) : "<no row>";
}

}  // namespace

TEST(Database, NewFileIsCreatedReadableByOwnerOnly) {
    TempDir dir;
    Database db;
    db.open(dir.file("app.db").c_str(), 0);
    db.execute("CREATE TABLE t (x INTEGER);");
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("app.db").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Database, OpenInMissingDirectoryThrowsWithEngineCode) {
    TempDir dir;
    Database db;
    try {
        db.open(dir.file("missing/app.db").c_str(), 0);
        FAIL() << "open succeeded";
    } catch (const DatabaseException& e) {
        EXPECT_EQ(e.errorCode(), SQLITE_CANTOPEN);
        EXPECT_STREQ(e.name(), "DatabaseException");
    }
    EXPECT_FALSE(db.isOpen());
}

TEST(Database, StatementErrorsCarryCodeAndMessage) {
    TempDir dir;
    Database db;
    db.open(dir.file("a.db").c_str(), 1000);
    try {
        db.execute("INSERT INTO nowhere VALUES (1);");
        FAIL() << "execute succeeded";
    } catch (const DatabaseException& e) {
        EXPECT_EQ(e.errorCode(), SQLITE_ERROR);
        EXPECT_NE(std::string(messageOf(e)).find("no such table: nowhere"), std::string::npos);
    }
    RowSet rows(db);
    EXPECT_THROW(rows.query("SELEKT 1;"), DatabaseException);
    // A statement that fails while stepping is finalised, so the set reads as done.
    rows.query("SELECT abs(-9223372036854775807 - 1);");
    EXPECT_THROW(rows.next(), DatabaseException);
    EXPECT_FALSE(rows.next());

    Database closed;
    EXPECT_THROW(closed.execute("SELECT 1;"), DatabaseException);
}

TEST(Database, FailedStatementInTransactionRollsBackAndLeavesNoTransactionOpen) {
    TempDir dir;
    Database db;
    db.open(dir.file("a.db").c_str(), 0);
    db.execute("CREATE TABLE t (x INTEGER NOT NULL);");
    EXPECT_THROW(db.executeInTransaction("INSERT INTO t VALUES (1); INSERT INTO t VALUES (NULL);"),
                 DatabaseException);
    EXPECT_FALSE(db.inTransaction());
    EXPECT_EQ(readText(db, "SELECT COUNT(*) FROM t;"), "0");
    db.executeInTransaction("INSERT INTO t VALUES (2);");
    EXPECT_EQ(readText(db, "SELECT COUNT(*) FROM t;"), "1");
}

TEST(Database, TableNamesListsTablesViewsAndTemporaryTablesButNotIndexes) {
    TempDir dir;
    Database db;
    db.open(dir.file("a.db").c_str(), 0);
    db.execute("CREATE TABLE b (id TEXT PRIMARY KEY); CREATE INDEX b_idx ON b(id);"
               "CREATE VIEW a AS SELECT * FROM b; CREATE TEMP TABLE c (x);");
    std::vector<std::string> names;
    db.tableNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(FormatableSQL, QuotedTextRoundTripsUnchanged) {
    TempDir dir;
    Database db;
    db.open(dir.file("a.db").c_str(), 0);
    db.execute("CREATE TABLE t (s TEXT);");
    const std::vector<std::string> values = {"O'Brien's ''door''", "100% %d %s %q %%", "Bäckerstraße 東京 ✓",
                                             "'); DROP TABLE t; --", ""};
    for (const std::string& value : values) {
        db.execute("DELETE FROM t;");
        db.execute(FormatableSQL("INSERT INTO t VALUES ('%q');", value.c_str()).c_str());
        EXPECT_EQ(readText(db, "SELECT s FROM t;"), value);
    }
    EXPECT_EQ(readText(db, "SELECT COUNT(*) FROM sqlite_master WHERE name = 't';"), "1");
}
