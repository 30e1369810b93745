#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "TablesFixture.h"
#include "app/tables/SiteLimitException.h"
#include "base/TextOf.h"

namespace {

std::unique_ptr<RecordSite> newSite(const std::string& name) {
    auto site = std::make_unique<RecordSite>();
    site->setName(name);
    site->setAddress("10.0.0.1");
    site->setPort(5100);
    site->setUsername("admin");
    site->setPassword("secret");
    return site;
}

std::vector<std::string> names(const std::vector<RecordSite*>& sites) {
    std::vector<std::string> result;
    for (RecordSite* site : sites) {
        result.push_back(site->name());
    }
    std::sort(result.begin(), result.end());
    return result;
}

class SiteContainerTest : public TablesFixture {
protected:
    SiteContainer& sites = SiteContainer::instance();
};

}  // namespace

TEST_F(SiteContainerTest, FreshDatabaseHoldsExactlyTheTwoTablesAndTheSiteIndex) {
    std::vector<std::pair<std::string, std::string>> objects;
    RowSet rows(DataWarehouse::instance().database(),
                "SELECT type || ' ' || name, sql FROM sqlite_master WHERE sql IS NOT NULL ORDER BY name;");
    while (rows.next()) {
        objects.emplace_back(rows.text(0), rows.text(1));
    }
    EXPECT_EQ(objects, (std::vector<std::pair<std::string, std::string>>{
                           {"table log",
                            "CREATE TABLE log (id INTEGER PRIMARY KEY,level INTEGER NOT NULL,date INTEGER NOT NULL,"
                            "time INTEGER NOT NULL, owner TEXT,log INTEGER NOT NULL,message TEXT)"},
                           {"table sites",
                            "CREATE TABLE sites (id TEXT PRIMARY KEY,name TEXT,address TEXT,port INTEGER NOT NULL,"
                            "username TEXT,password TEXT,storageGroupFile TEXT,timeToStart TEXT,overwrite INTEGER "
                            "NOT NULL,archiving INTEGER NOT NULL,rescheduled INTEGER NOT NULL,schedule INTEGER NOT "
                            "NULL,alwaysArchive INTERGER NOT NULL,timeArchiveStart TEXT,timeArchiveStop TEXT,deleted "
                            "INTEGER NOT NULL)"},
                           {"index sites_idx", "CREATE UNIQUE INDEX sites_idx ON sites(id)"},
                       }));
    // Loading again finds the tables instead of creating them a second time.
    restart();
    EXPECT_EQ(number("SELECT COUNT(*) FROM sqlite_master WHERE sql IS NOT NULL;"), 3);
}

TEST_F(SiteContainerTest, EveryColumnSurvivesARestartUnchanged) {
    auto site = newSite("Gate 'North' 100% \"east\" — Straße 東京");
    site->setAddress("nvr.example.org");
    site->setPort(65535);
    site->setUsername("o'neil%s");
    site->setPassword("p'a''ss%d%%w\\ord ✓");
    site->setStorageGroupFile("/srv/st'or%ages/gate.strgx");
    site->setTimeToStart(DateTime(2009, 3, 1, 23, 5, 9));
    site->setOverwrite(true);
    site->setArchiving(true);
    site->setRescheduled(true);
    site->setSchedule(RecordSite::FromTime);
    site->setAlwaysArchive(false);
    site->setTimeArchiveStart(Time(8, 30, 0));
    site->setTimeArchiveStop(Time(17, 45, 59));
    UniqueID id = site->id();
    ASSERT_NE(sites.add(std::move(site)), nullptr);

    restart();
    RecordSite* loaded = sites.find(id);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->name(), "Gate 'North' 100% \"east\" — Straße 東京");
    EXPECT_EQ(loaded->address(), "nvr.example.org");
    EXPECT_EQ(loaded->port(), 65535);
    EXPECT_EQ(loaded->username(), "o'neil%s");
    EXPECT_EQ(loaded->password(), "p'a''ss%d%%w\\ord ✓");
    EXPECT_EQ(loaded->storageGroupFile(), "/srv/st'or%ages/gate.strgx");
    EXPECT_EQ(textOf(loaded->timeToStart()), "2009/03/01 23:05:09");
    EXPECT_TRUE(loaded->overwrite());
    EXPECT_TRUE(loaded->archiving());
    EXPECT_TRUE(loaded->rescheduled());
    EXPECT_EQ(loaded->schedule(), RecordSite::FromTime);
    EXPECT_FALSE(loaded->alwaysArchive());
    EXPECT_EQ(textOf(loaded->timeArchiveStart()), "08:30:00");
    EXPECT_EQ(textOf(loaded->timeArchiveStop()), "17:45:59");
    EXPECT_FALSE(loaded->deleted());
    EXPECT_EQ(sites.findByName("Gate 'North' 100% \"east\" — Straße 東京"), loaded);
    EXPECT_EQ(sites.findByName("Gate 'North' 100% \"east\" — straße 東京"), nullptr);
}

TEST_F(SiteContainerTest, DeletedSiteKeepsItsRowAndReturnsOnlyToTheAllSitesMap) {
    UniqueID gone = sites.add(newSite("gone"))->id();
    sites.add(newSite("kept"));
    RecordSite* held = sites.find(gone);
    ASSERT_TRUE(sites.remove(*held));
    EXPECT_TRUE(held->deleted());
    EXPECT_FALSE(sites.remove(*held));
    // A change to a deleted site would bring it back after a restart.
    EXPECT_FALSE(sites.update(*held));
    EXPECT_EQ(names(sites.sites(false)), (std::vector<std::string>{"kept"}));

    restart();
    EXPECT_EQ(number("SELECT deleted FROM sites WHERE name = 'gone';"), 1);
    EXPECT_EQ(sites.rowCount(), 2);
    EXPECT_EQ(names(sites.sites(true)), (std::vector<std::string>{"gone", "kept"}));
    EXPECT_EQ(names(sites.sites(false)), (std::vector<std::string>{"kept"}));
    ASSERT_NE(sites.find(gone), nullptr);
    EXPECT_TRUE(sites.find(gone)->deleted());
    EXPECT_EQ(sites.findByName("gone"), nullptr);
}

TEST_F(SiteContainerTest, UpdateChangesTheHeldRecordAndTheRow) {
    RecordSite* held = sites.add(newSite("before"));
    RecordSite edited;
    edited.copyColumnsFrom(*held);
    edited.setName("after");
    edited.setPort(81);
    ASSERT_TRUE(sites.update(edited));
    EXPECT_EQ(held->name(), "after");
    RecordSite stranger;
    EXPECT_FALSE(sites.update(stranger));

    restart();
    EXPECT_EQ(names(sites.sites(true)), (std::vector<std::string>{"after"}));
    EXPECT_EQ(sites.findByName("after")->port(), 81);
}

TEST_F(SiteContainerTest, FullTablePurgesTheSiteDeletedLongestAgoAndNeverALiveOne) {
    std::vector<UniqueID> ids;
    for (int i = 0; i < SiteContainer::MAX_SITES; ++i) {
        ids.push_back(sites.add(newSite("site " + std::to_string(i)))->id());
    }
    // Every row is a live site: the new one is refused, loudly, and nothing changes.
    EXPECT_THROW(sites.add(newSite("one too many")), SiteLimitException);
    EXPECT_EQ(sites.sites(true).size(), 100u);
    EXPECT_EQ(number("SELECT COUNT(*) FROM sites;"), 100);

    ASSERT_TRUE(sites.remove(*sites.find(ids[70])));
    ASSERT_TRUE(sites.remove(*sites.find(ids[5])));
    ASSERT_NE(sites.add(newSite("new 1")), nullptr);
    EXPECT_EQ(sites.find(ids[70]), nullptr);
    ASSERT_NE(sites.find(ids[5]), nullptr);
    ASSERT_NE(sites.add(newSite("new 2")), nullptr);
    EXPECT_EQ(sites.find(ids[5]), nullptr);
    EXPECT_THROW(sites.add(newSite("new 3")), SiteLimitException);

    restart();
    EXPECT_EQ(sites.rowCount(), 100);
    EXPECT_EQ(sites.sites(false).size(), 100u);
    EXPECT_NE(sites.findByName("new 2"), nullptr);
    EXPECT_EQ(sites.find(ids[70]), nullptr);
    EXPECT_NE(sites.find(ids[0]), nullptr);
}

TEST_F(SiteContainerTest, DuplicateIdIsRefusedWithoutTouchingTheMaps) {
    RecordSite* first = sites.add(newSite("first"));
    auto twin = newSite("twin");
    twin->setId(first->id());
    EXPECT_EQ(sites.add(std::move(twin)), nullptr);
    EXPECT_EQ(sites.find(first->id())->name(), "first");
    EXPECT_EQ(sites.rowCount(), 1);
    EXPECT_EQ(sites.add(nullptr), nullptr);
}

TEST_F(SiteContainerTest, WriteFailuresAreSwallowedAndLeaveMemoryAsItWas) {
    RecordSite* held = sites.add(newSite("steady"));
    UniqueID id = held->id();
    // The connection refuses every write from here on, as a read-only or failing disk would.
    execute("PRAGMA query_only = ON;");

    EXPECT_EQ(sites.add(newSite("lost")), nullptr);
    RecordSite edited;
    edited.copyColumnsFrom(*held);
    edited.setName("renamed");
    EXPECT_FALSE(sites.update(edited));
    EXPECT_EQ(held->name(), "steady");
    EXPECT_FALSE(sites.remove(*held));
    EXPECT_FALSE(held->deleted());
    EXPECT_EQ(names(sites.sites(true)), (std::vector<std::string>{"steady"}));
    EXPECT_EQ(names(sites.sites(false)), (std::vector<std::string>{"steady"}));
    EXPECT_EQ(sites.rowCount(), 1);

    // No transaction was left open: writes work again once the disk does.
    execute("PRAGMA query_only = OFF;");
    EXPECT_NE(sites.add(newSite("later")), nullptr);
    EXPECT_TRUE(sites.update(edited));
    restart();
    EXPECT_EQ(names(sites.sites(true)), (std::vector<std::string>{"later", "renamed"}));
    EXPECT_NE(sites.find(id), nullptr);
}

TEST_F(SiteContainerTest, UnreadableDatabaseLeavesTheLoadedSitesInPlace) {
    sites.add(newSite("present"));
    // The table is gone and cannot be created again: the load fails and changes nothing.
    execute("DROP TABLE sites; PRAGMA query_only = ON;");
    EXPECT_FALSE(SiteContainer::instance().load());
    EXPECT_EQ(names(sites.sites(true)), (std::vector<std::string>{"present"}));
    execute("PRAGMA query_only = OFF;");
}

TEST_F(SiteContainerTest, RowsThatAreNoUsableSiteAreLeftOutAndWritesNeverAddASecondRow) {
    // Rows as other tools may have written them: an id that is no id, one in capitals, and
    // a live site whose id a deleted row repeats in capitals.
    auto insertRow = [&](const std::string& id, const std::string& name, int deleted) {
        execute(("INSERT INTO sites VALUES ('" + id + "', '" + name +
                 "', 'nvr', 5100, 'u', 'p', '', '', 0, 0, 0, 0, 1, '', '', " + std::to_string(deleted) + ");")
                    .c_str());
    };
    const std::string upper = "6B29FC40-CA47-1067-B31D-00DD010662DA";
    const std::string twin = "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0";
    std::string twinUpper = twin;
    for (char& c : twinUpper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    insertRow("gate-1", "Broken", 0);
    insertRow(upper, "Upper", 0);
    insertRow(twin, "Twin", 0);
    insertRow(twinUpper, "Twin deleted", 1);
    restart();

    EXPECT_EQ(names(sites.sites(true)), (std::vector<std::string>{"Twin", "Upper"}));
    EXPECT_EQ(names(sites.sites(false)), (std::vector<std::string>{"Twin", "Upper"}));
    auto leftOut = [&] {
        std::vector<std::string> rows;
        for (const SiteContainer::LeftOutRow& row : sites.leftOutRows()) {
            rows.push_back(row.idText + " " + row.name + ": " + row.reason);
        }
        return rows;
    };
    EXPECT_EQ(leftOut(), (std::vector<std::string>{"gate-1 Broken: its id is not a valid id",
                                                   twinUpper + " Twin deleted: its id repeats the id of another row"}));

    RecordSite* held = sites.find(UniqueID(upper.c_str()));
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->idText(), upper);
    RecordSite edited;
    edited.copyColumnsFrom(*held);
    edited.setName("Upper renamed");
    ASSERT_TRUE(sites.update(edited));
    ASSERT_TRUE(sites.remove(*held));
    EXPECT_EQ(number("SELECT COUNT(*) FROM sites;"), 4) << "a write added a row instead of replacing its own";
    EXPECT_EQ(number("SELECT deleted FROM sites WHERE id = '" + upper + "' AND name = 'Upper renamed';"), 1);

    // The rows left out are still there, and a restart sees the same, in any row order.
    execute(("REPLACE INTO sites SELECT * FROM sites WHERE id = '" + twin + "';").c_str());
    restart();
    EXPECT_EQ(number("SELECT COUNT(*) FROM sites WHERE id IN ('gate-1', '" + twinUpper + "');"), 2);
    EXPECT_EQ(leftOut().size(), 2u);
    EXPECT_EQ(names(sites.sites(true)), (std::vector<std::string>{"Twin", "Upper renamed"}));
    EXPECT_EQ(names(sites.sites(false)), (std::vector<std::string>{"Twin"}));
}
