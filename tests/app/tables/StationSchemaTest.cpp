#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "app/tables/ForeignDatabaseException.h"
#include "app/tables/SiteContainer.h"
#include "app/tables/SystemLogger.h"
#include "database/DataWarehouse.h"
#include "database/Database.h"
#include "database/RowSet.h"

namespace {

using Names = std::vector<std::string>;

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Writes `sql` into the database at `path` through a connection of its own.
void makeDatabase(const std::string& path, const char* sql) {
    Database db;
    db.open(path.c_str(), 0);
    db.execute(sql);
}

// "type name" of every object of the database at `path`, by name.
Names objectsOf(const std::string& path) {
    Database db;
    db.open(path.c_str(), 0);
    Names objects;
    RowSet rows(db, "SELECT type || ' ' || name FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' ORDER BY name;");
    while (rows.next()) {
        objects.emplace_back(rows.text(0));
    }
    return objects;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class StationSchemaTest : public ::testing::Test {
protected:
    void TearDown() override { DataWarehouse::instance().close(); }

    // Opens `file` as the station does at start-up: sites first, then the log.
    void openAsStation(const std::string& file) {
        DataWarehouse::instance().open(file, 1000);
        ASSERT_TRUE(SiteContainer::instance().load());
        ASSERT_TRUE(SystemLogger::instance().open());
    }

    // Both tables refuse `file`, whose message names `reason`; the file is as it was.
    void expectRefusedUntouched(const std::string& file, const std::string& reason) {
        std::string before = bytesOf(file);
        auto modified = std::filesystem::last_write_time(file);
        DataWarehouse::instance().open(file, 1000);
        try {
            SiteContainer::instance().load();
            ADD_FAILURE() << "the sites table was read from another program's file";
        } catch (const ForeignDatabaseException& e) {
            EXPECT_EQ(e.errorCode(), SQLITE_NOTADB);
            EXPECT_TRUE(contains(messageOf(e), reason)) << messageOf(e);
            EXPECT_TRUE(contains(messageOf(e), "not a Quill Fen database")) << messageOf(e);
        }
        EXPECT_THROW(SystemLogger::instance().open(), ForeignDatabaseException);
        DataWarehouse::instance().close();
        EXPECT_EQ(bytesOf(file), before);
        EXPECT_EQ(std::filesystem::last_write_time(file), modified);
        EXPECT_FALSE(std::filesystem::exists(file + "-journal"));
    }

    TempDir dir;
    const Names stationObjects = {"table log", "table sites", "index sites_idx"};
};

}  // namespace

TEST_F(StationSchemaTest, AnotherProgramsTablesOfTheSameNamesAreRefusedAndTheFileStaysUnchanged) {
    std::string browser = dir.file("browser.db");
    makeDatabase(browser.c_str(),
                 "CREATE TABLE sites (id INTEGER PRIMARY KEY, url TEXT, title TEXT, visits INTEGER);"
                 "INSERT INTO sites (url, title, visits) VALUES ('https://example.org', 'Example', 3);");
    expectRefusedUntouched(browser, "its table \"sites\" has the columns (id, url, title, visits)");
    EXPECT_EQ(objectsOf(browser), Names{"table sites"});

    // The station's sites table beside a log table of other columns.
    std::string mixed = dir.file("mixed.db");
    openAsStation(mixed);
    DataWarehouse::instance().database().execute("DROP TABLE log; CREATE TABLE Log (id INTEGER PRIMARY KEY, line TEXT);");
    DataWarehouse::instance().close();
    expectRefusedUntouched(mixed, "its table \"Log\" has the columns (id, line)");

    std::string view = dir.file("view.db");
    makeDatabase(view.c_str(), "CREATE TABLE places (id TEXT); CREATE VIEW sites AS SELECT * FROM places;");
    expectRefusedUntouched(view, "\"sites\" is a view");
}

TEST_F(StationSchemaTest, AFileWithOtherTablesAndNeitherOfTheStationsGainsNothing) {
    std::string notes = dir.file("notes.db");
    makeDatabase(notes.c_str(),
                 "CREATE TABLE notes (id INTEGER PRIMARY KEY, body TEXT); CREATE INDEX notes_body ON notes(body);"
                 "CREATE VIEW recent AS SELECT * FROM notes; INSERT INTO notes (body) VALUES ('keep me');");
    expectRefusedUntouched(notes, "it holds other tables (notes, recent) and neither");
    EXPECT_EQ(objectsOf(notes), (Names{"table notes", "index notes_body", "view recent"}));
}

TEST_F(StationSchemaTest, NewEmptyAndStationFilesOpenWithTheStationsTables) {
    std::string missing = dir.file("missing.db");
    openAsStation(missing);
    auto site = std::make_unique<RecordSite>();
    site->setName("gate");
    UniqueID id = SiteContainer::instance().add(std::move(site))->id();
    DataWarehouse::instance().close();
    EXPECT_EQ(objectsOf(missing), stationObjects);

    // The station's own file opens as before, with its site.
    openAsStation(missing);
    ASSERT_NE(SiteContainer::instance().find(id), nullptr);
    DataWarehouse::instance().close();
    EXPECT_EQ(objectsOf(missing), stationObjects);

    // A file of no bytes is an empty database.
    std::string empty = dir.file("empty.db");
    std::ofstream(empty).close();
    openAsStation(empty);
    DataWarehouse::instance().close();
    EXPECT_EQ(objectsOf(empty), stationObjects);

    // A first start that ended between the two tables, and a station file someone added a
    // table of their own to.
    std::string partial = dir.file("partial.db");
    openAsStation(partial);
    DataWarehouse::instance().database().execute("DROP TABLE log; CREATE TABLE notes (x TEXT);");
    DataWarehouse::instance().close();
    openAsStation(partial);
    DataWarehouse::instance().close();
    EXPECT_EQ(objectsOf(partial), (Names{"table log", "table notes", "table sites", "index sites_idx"}));
}
