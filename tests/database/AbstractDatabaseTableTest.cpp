#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "TempDir.h"
#include "base/DatabaseException.h"
#include "database/AbstractDatabaseRecord.h"
#include "database/AbstractDatabaseTable.h"
#include "database/DataWarehouse.h"
#include "database/FormatableSQL.h"
#include "database/IDatabaseListener.h"
#include "database/RowSet.h"

namespace {

struct Note : AbstractDatabaseRecord {
    long long id = 0;
    std::string text;
    void readRow(RowSet& row) override {
        id = row.integer64(0);
        text = row.text(1);
    }
};

// A minimal concrete table: notes with an integer id, the shape of the log table.
class NoteTable : public AbstractDatabaseTable {
public:
    explicit NoteTable(int maxRows) : AbstractDatabaseTable("notes", maxRows) {}
    std::map<long long, std::string> held;
    bool failNextInsert = false;

protected:
    void createTable() override {
        database().executeInTransaction(
            FormatableSQL("CREATE TABLE %q (id INTEGER PRIMARY KEY, text TEXT);", tableName().c_str()).c_str());
    }
    void insertRecord(AbstractDatabaseRecord& record) override {
        auto& note = static_cast<Note&>(record);
        const char* fmt = failNextInsert ? "INSERT INTO %q (no_such_column) VALUES ('%q');"
                                         : "INSERT INTO %q (text) VALUES ('%q');";
        failNextInsert = false;
        database().executeInTransaction(FormatableSQL(fmt, tableName().c_str(), note.text.c_str()).c_str());
        note.id = database().lastInsertRowId();
    }
    void updateRecord(AbstractDatabaseRecord& record) override {
        auto& note = static_cast<Note&>(record);
        database().executeInTransaction(FormatableSQL("UPDATE %q SET text = '%q' WHERE id = %lld;",
                                                      tableName().c_str(), note.text.c_str(), note.id)
                                            .c_str());
    }
    int deleteRecord(AbstractDatabaseRecord& record) override {
        database().executeInTransaction(
            FormatableSQL("DELETE FROM %q WHERE id = %lld;", tableName().c_str(), static_cast<Note&>(record).id)
                .c_str());
        return database().changes();
    }
    int selectRecords(const char* condition, bool replace) override {
        if (replace) {
            held.clear();
        }
        RowSet rows(database(), FormatableSQL("SELECT * FROM %q %s%s;", tableName().c_str(),
                                              condition != nullptr ? "WHERE " : "", condition != nullptr ? condition : "")
                                    .c_str());
        int count = 0;
        for (; rows.next(); ++count) {
            Note note;
            note.readRow(rows);
            held[note.id] = note.text;
        }
        return count;
    }
};

struct Recorder : IDatabaseListener {
    std::vector<std::pair<int, std::string>> seen;
    void databaseChanged(int change, AbstractDatabaseRecord& record) override {
        seen.emplace_back(change, static_cast<Note&>(record).text);
    }
};

class AbstractDatabaseTableTest : public ::testing::Test {
protected:
    void SetUp() override { DataWarehouse::instance().open(dir.file("app.db"), 1000); }
    void TearDown() override { DataWarehouse::instance().close(); }

    bool addNote(NoteTable& table, const std::string& text) {
        Note note;
        note.text = text;
        return table.add(note);
    }
    std::vector<long long> ids() {
        std::vector<long long> result;
        RowSet rows(DataWarehouse::instance().database(), "SELECT id FROM notes ORDER BY id;");
        while (rows.next()) {
            result.push_back(rows.integer64(0));
        }
        return result;
    }

    TempDir dir;
};

}  // namespace

TEST_F(AbstractDatabaseTableTest, OpenCreatesAMissingTableAndCountsAnExistingOne) {
    NoteTable table(10);
    table.open();
    EXPECT_EQ(table.rowCount(), 0);
    EXPECT_TRUE(addNote(table, "a"));
    EXPECT_TRUE(addNote(table, "b"));

    // A second open of the same file finds the table and its rows instead of creating it.
    DataWarehouse::instance().open(dir.file("app.db"), 1000);
    NoteTable reopened(10);
    reopened.open();
    EXPECT_EQ(reopened.rowCount(), 2);
    EXPECT_EQ(reopened.select(nullptr, true), 2);
    EXPECT_EQ(reopened.held.at(2), "b");
}

TEST_F(AbstractDatabaseTableTest, FullTableDropsTheSmallestIdBeforeInserting) {
    NoteTable table(3);
    table.open();
    for (const char* text : {"1", "2", "3", "4", "5"}) {
        EXPECT_TRUE(addNote(table, text));
    }
    EXPECT_EQ(table.rowCount(), 3);
    EXPECT_EQ(ids(), (std::vector<long long>{3, 4, 5}));
}

TEST_F(AbstractDatabaseTableTest, FailedInsertIntoFullTableKeepsTheOldestRow) {
    NoteTable table(2);
    table.open();
    addNote(table, "old");
    addNote(table, "new");
    table.failNextInsert = true;
    EXPECT_THROW(addNote(table, "broken"), DatabaseException);
    EXPECT_EQ(ids(), (std::vector<long long>{1, 2}));
    EXPECT_EQ(table.rowCount(), 2);
    EXPECT_FALSE(DataWarehouse::instance().database().inTransaction());
    // The table keeps working after the failure.
    EXPECT_TRUE(addNote(table, "next"));
    EXPECT_EQ(ids(), (std::vector<long long>{2, 3}));
}

TEST_F(AbstractDatabaseTableTest, RemoveAndSelectOnAnEmptyTableDoNothing) {
    NoteTable table(5);
    table.open();
    Note ghost;
    ghost.id = 1;
    EXPECT_FALSE(table.remove(ghost));
    EXPECT_EQ(table.select(nullptr, true), 0);
    addNote(table, "x");
    Note first;
    first.id = 1;
    EXPECT_TRUE(table.remove(first));
    EXPECT_EQ(table.rowCount(), 0);
}

TEST_F(AbstractDatabaseTableTest, ListenersAreToldEachChangeOnce) {
    NoteTable table(5);
    table.open();
    Recorder recorder;
    table.addListener(&recorder);
    table.addListener(&recorder);
    Note note;
    note.text = "a";
    table.add(note);
    note.text = "b";
    table.update(note);
    table.remove(note);
    table.removeListener(&recorder);
    addNote(table, "unheard");
    EXPECT_EQ(recorder.seen, (std::vector<std::pair<int, std::string>>{
                                 {IDatabaseListener::Added, "a"},
                                 {IDatabaseListener::Updated, "b"},
                                 {IDatabaseListener::Removed, "b"},
                             }));
}
