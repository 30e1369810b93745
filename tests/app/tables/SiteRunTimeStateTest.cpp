#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "TablesFixture.h"
#include "app/tables/IArchivabilityCheck.h"

namespace {

// An archivability verdict per site name, as a test sets it.
class FixedCheck : public IArchivabilityCheck {
public:
    int notArchivableReason(const RecordSite& site) override {
        ++calls;
        auto it = reasons.find(site.name());
        return it != reasons.end() ? it->second : RecordSite::Archivable;
    }
    std::map<std::string, int> reasons;
    int calls = 0;
};

class SiteRunTimeStateTest : public TablesFixture {
protected:
    void SetUp() override {
        TablesFixture::SetUp();
        sites.setArchivabilityCheck(&check);
    }
    void TearDown() override {
        sites.setArchivabilityCheck(nullptr);
        TablesFixture::TearDown();
    }

    int addSite(const std::string& name, int key) {
        auto site = std::make_unique<RecordSite>();
        site->setName(name);
        site->setAddress("10.0.0.1");
        site->setPort(10102);
        site->setScheduleKey(key);
        EXPECT_NE(sites.add(std::move(site)), nullptr);
        return key;
    }

    long long storedArchiving(const std::string& name) {
        return number("SELECT archiving FROM sites WHERE name = '" + name + "';");
    }

    SiteContainer& sites = SiteContainer::instance();
    FixedCheck check;
};

}  // namespace

TEST(SiteStatusText, EachStatusShowsItsTextAndAFailureItsEvent) {
    RecordSite site;
    const std::pair<int, const char*> plain[] = {
        {RecordSite::Connecting, "Connecting"},
        {RecordSite::Archiving, "Archiving"},
        {RecordSite::Stopped, "Stopped"},
        {RecordSite::NoSpace, "Not enough space to archive"},
        {9, ""},
    };
    for (auto [status, text] : plain) {
        site.setStatusValue(status);
        EXPECT_EQ(site.statusText(), text) << status;
    }
    site.setStatusValue(RecordSite::Failed);
    site.setLastEvent({6, 111, "", 21});
    EXPECT_EQ(site.statusText(), "Connection refused");
    site.setLastEvent({7, 0, "host not found", 23});
    EXPECT_EQ(site.statusText(), "Failed to connect : host not found");

    site.setStatusValue(RecordSite::NotArchivable);
    const std::pair<int, const char*> reasons[] = {
        {RecordSite::GroupFileNotFound, "Storage group file not found"},
        {RecordSite::GroupFileCorrupted, "Storage group file corrupted"},
        {RecordSite::NoStorage, "No storage to archive"},
        {RecordSite::NoStartPoint, "No schedule specified"},
        {RecordSite::Archivable, ""},
    };
    for (auto [reason, text] : reasons) {
        site.setNotArchivableReason(reason);
        EXPECT_EQ(site.statusText(), text) << reason;
    }
}

TEST_F(SiteRunTimeStateTest, SiteThatCannotArchiveIsHeldInStatusFiveAndStoredAsNotArchiving) {
    int key = addSite("Cam", 7);
    ASSERT_TRUE(sites.setArchiving(key, true));
    EXPECT_EQ(storedArchiving("Cam"), 1);
    EXPECT_EQ(sites.snapshot(key)->status(), RecordSite::Stopped);

    check.reasons["Cam"] = RecordSite::NoStorage;
    EXPECT_FALSE(sites.setStatus(key, RecordSite::Archiving));
    RecordSite held = *sites.snapshot(key);
    EXPECT_EQ(held.status(), RecordSite::NotArchivable);
    EXPECT_EQ(held.statusText(), "No storage to archive");
    EXPECT_FALSE(held.archiving());
    ASSERT_TRUE(sites.save(key));
    EXPECT_EQ(storedArchiving("Cam"), 0);

    // A storage was added: the next save lets the site go to Stopped, not to where it was.
    check.reasons.erase("Cam");
    ASSERT_TRUE(sites.save(key));
    EXPECT_EQ(sites.snapshot(key)->status(), RecordSite::Stopped);
    EXPECT_EQ(sites.snapshot(key)->notArchivableReason(), RecordSite::Archivable);
}

TEST_F(SiteRunTimeStateTest, StatusChangesSetTheSpeedClassShownAndLeaveOtherStatesAlone) {
    int key = addSite("Cam", 3);
    ASSERT_TRUE(sites.setStatus(key, RecordSite::Connecting));
    EXPECT_EQ(sites.snapshot(key)->speedClass(), 3);
    ASSERT_TRUE(sites.setStatus(key, RecordSite::Archiving));
    EXPECT_EQ(sites.snapshot(key)->speedClass(), 3);
    ASSERT_TRUE(sites.setStatus(key, RecordSite::NoSpace));
    EXPECT_EQ(sites.snapshot(key)->speedClass(), 0);
    // An archivable site keeps a status other than 5 when checked again.
    EXPECT_TRUE(sites.isArchivable(key));
    EXPECT_EQ(sites.snapshot(key)->status(), RecordSite::NoSpace);
    EXPECT_GE(check.calls, 4);
}

TEST_F(SiteRunTimeStateTest, StartPointChangesAreStoredAndClearingThePendingOneClearsTheType) {
    int key = addSite("Cam", 4);
    DateTime at(2026, 3, 1, 23, 0, 0);
    ASSERT_TRUE(sites.setRescheduled(key, true));
    ASSERT_TRUE(sites.setSchedule(key, RecordSite::FromTime, at));
    ASSERT_TRUE(sites.setSchedule(key, RecordSite::FromFirst, DateTime(2000, 1, 1, 0, 0, 0)));
    EXPECT_EQ(number("SELECT schedule FROM sites WHERE name = 'Cam';"), 1);
    EXPECT_EQ(sites.snapshot(key)->timeToStart(), at);  // only a time start stores its time
    ASSERT_TRUE(sites.setRescheduled(key, false));
    EXPECT_EQ(number("SELECT rescheduled + schedule FROM sites WHERE name = 'Cam';"), 0);

    restart();  // run-time state is not stored: a reloaded site has no key and status 5
    RecordSite* reloaded = sites.findByName("Cam");
    ASSERT_NE(reloaded, nullptr);
    EXPECT_EQ(reloaded->scheduleKey(), RecordSite::NoKey);
    EXPECT_EQ(reloaded->status(), RecordSite::NotArchivable);
    EXPECT_EQ(reloaded->timeToStart(), at);
}

TEST_F(SiteRunTimeStateTest, KeysReachOnlyActiveSites) {
    int key = addSite("Cam", 5);
    addSite("Door", 6);
    EXPECT_EQ(sites.find(key)->name(), "Cam");
    EXPECT_EQ(sites.find(RecordSite::NoKey), nullptr);
    ASSERT_TRUE(sites.remove(*sites.find(key)));
    EXPECT_EQ(sites.find(key), nullptr);
    EXPECT_FALSE(sites.save(key));
    EXPECT_FALSE(sites.setArchiving(key, true));
    EXPECT_EQ(sites.snapshots().size(), 1u);
}
