#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedScheduler.h"
#include "TempDir.h"
#include "app/archiving/ArchivingEvent.h"
#include "app/archiving/EventManager.h"
#include "app/group/StorageGroupNaming.h"
#include "app/tables/SiteContainer.h"
#include "app/tables/SystemLogCode.h"
#include "app/tables/SystemLogger.h"
#include "app/ui/CQuillfenDoc.h"
#include "app/ui/IDocumentObserver.h"
#include "base/Clock.h"
#include "database/DataWarehouse.h"
#include "database/RowSet.h"

namespace {

using Calls = std::vector<std::string>;
constexpr uint64_t StorageSize = 32ull << 20;

struct RowCounter : IDocumentObserver {
    void siteAdded(const RecordSite&) override { ++added; }
    void siteChanged(const RecordSite& site) override { lastStatus = site.statusText(); }
    void siteRemoved(int) override { ++removed; }
    int added = 0;
    int removed = 0;
    std::string lastStatus;
};

class CQuillfenDocTest : public ::testing::Test {
protected:
    void SetUp() override { openStation(); }
    void TearDown() override {
        closeStation();
        DataWarehouse::instance().close();
    }

    // The station as it starts: tables loaded, a document on a fresh scheduler, schedules
    // made for every site.
    void openStation() {
        DataWarehouse::instance().open(dir.file("app.db"), 1000);
        DataWarehouse::instance().database().execute("PRAGMA synchronous = OFF;");
        ASSERT_TRUE(SiteContainer::instance().load());
        ASSERT_TRUE(SystemLogger::instance().open());
        scheduler = std::make_unique<ScriptedScheduler>();
        doc = std::make_unique<CQuillfenDoc>(*scheduler, &rows);
        doc->open(false);
        doc->initialiseSchedules();
        scheduler->take();
    }
    void closeStation() {
        if (doc) {
            doc->close();
            doc.reset();
        }
    }
    void restartStation(bool resumable) {
        closeStation();
        DataWarehouse::instance().close();
        openStationWith(resumable);
    }
    void openStationWith(bool resumable) {
        DataWarehouse::instance().open(dir.file("app.db"), 1000);
        ASSERT_TRUE(SiteContainer::instance().load());
        ASSERT_TRUE(SystemLogger::instance().open());
        scheduler = std::make_unique<ScriptedScheduler>();
        scheduler->resumableByDefault = resumable;
        doc = std::make_unique<CQuillfenDoc>(*scheduler, &rows);
        doc->open(false);
        doc->initialiseSchedules();
    }

    ScheduleWizardResult wizard(const std::string& name, int storages = 1) {
        ScheduleWizardResult result;
        result.name = name;
        result.address = "127.0.0.1";
        result.port = 10102;
        result.username = "admin";
        result.password = "pa'ss%word";
        result.groupFile = dir.file(StorageGroupNaming::groupFileName(name));
        result.storageFiles = StorageGroupNaming::storageFilePaths(dir.path().string(), name, storages);
        result.storageSize = StorageSize;
        return result;
    }

    RecordSite site(int key) { return *SiteContainer::instance().snapshot(key); }
    long long stored(const std::string& column, const std::string& name) {
        RowSet row(DataWarehouse::instance().database(),
                   ("SELECT " + column + " FROM sites WHERE name = '" + name + "';").c_str());
        return row.next() ? row.integer64(0) : -1;
    }
    std::vector<int> logCodes() {
        std::vector<int> codes;
        for (const SystemLog& entry : SystemLogger::instance().entries()) {
            codes.push_back(entry.code());
        }
        return codes;
    }

    TempDir dir;
    ManualClock clock{DateTime(2026, 12, 9, 7, 59, 0)};
    RowCounter rows;
    std::unique_ptr<ScriptedScheduler> scheduler;
    std::unique_ptr<CQuillfenDoc> doc;
};

}  // namespace

TEST_F(CQuillfenDocTest, DailyHoursCreatedBeforeTheStartBeginAtTheStartAndEndAtTheStop) {
    ScheduleWizardResult hours = wizard("Cam");
    hours.alwaysArchive = false;
    hours.archiveStart = Time(8, 0, 0);
    hours.archiveStop = Time(18, 0, 0);
    CQuillfenDoc::Outcome made = doc->newSchedule(hours);
    ASSERT_TRUE(made.ok()) << made.error;
    EXPECT_EQ(scheduler->take(), (Calls{"create 0", "setOverwrite 0 on"}));
    EXPECT_EQ(site(made.key).statusText(), "Stopped");
    EXPECT_EQ(site(made.key).capacity() > 0, true);

    doc->actionLoop().tickActors();
    clock.set(DateTime(2026, 12, 9, 7, 59, 59));
    doc->actionLoop().tickActors();
    EXPECT_TRUE(scheduler->take().empty());

    clock.set(DateTime(2026, 12, 9, 8, 0, 0));
    doc->actionLoop().tickActors();
    EXPECT_EQ(scheduler->take(), (Calls{"start 0 first"}));
    EXPECT_EQ(stored("archiving", "Cam"), 1);

    clock.set(DateTime(2026, 12, 9, 17, 59, 59));
    doc->actionLoop().tickActors();
    EXPECT_TRUE(scheduler->take().empty());
    clock.set(DateTime(2026, 12, 9, 18, 0, 0));
    doc->actionLoop().tickActors();
    EXPECT_EQ(scheduler->take(), (Calls{"stop 0"}));
    EXPECT_EQ(stored("archiving", "Cam"), 0);

    // Back to always: the next day's start time passes without a start.
    doc->setAlwaysArchive(made.key);
    clock.set(DateTime(2026, 12, 10, 8, 0, 1));
    doc->actionLoop().tickActors();
    doc->actionLoop().tickActors();
    EXPECT_TRUE(scheduler->take().empty());
    EXPECT_EQ(logCodes(), (std::vector<int>{SystemLogCode::ScheduleAdded, SystemLogCode::StartArchiving}));
}

TEST_F(CQuillfenDocTest, NewScheduleWithinItsHoursStartsAtOnceFromItsStartPoint) {
    ScheduleWizardResult fromTime = wizard("Door", 2);
    fromTime.startType = RecordSite::FromTime;
    fromTime.startTime = DateTime(2026, 12, 1, 6, 30, 0);
    fromTime.overwrite = false;
    CQuillfenDoc::Outcome made = doc->newSchedule(fromTime);
    ASSERT_TRUE(made.ok()) << made.error;
    EXPECT_EQ(scheduler->take(),
              (Calls{"create 0", "setOverwrite 0 off", "startFromTime 0 2026/12/01 06:30:00"}));
    EXPECT_EQ(rows.added, 1);
    EXPECT_EQ(site(made.key).capacity(), scheduler->capacity(made.key));
    EXPECT_EQ(stored("rescheduled + schedule", "Door"), 1 + 3);

    // The first progress confirms the start point once.
    doc->scheduleProgress(made.key, DateTime(2026, 12, 1, 6, 30, 5));
    doc->scheduleProgress(made.key, DateTime(2026, 12, 1, 6, 30, 9));
    EXPECT_EQ(stored("rescheduled + schedule", "Door"), 0);
    std::vector<SystemLog> entries = SystemLogger::instance().entries();
    ASSERT_EQ(entries.back().code(), SystemLogCode::Scheduled);
    EXPECT_EQ(entries.back().message(), "2026/12/01 06:30:00");
    EXPECT_EQ(site(made.key).lastArchivedTime(), DateTime(2026, 12, 1, 6, 30, 9));
}

TEST_F(CQuillfenDocTest, UnchangedSiteSettingsChangeNothingAndChangedOnesReachTheSchedule) {
    CQuillfenDoc::Outcome made = doc->newSchedule(wizard("Cam"));
    ASSERT_TRUE(made.ok());
    scheduler->take();
    IArchivingScheduler::SiteSettings same{"127.0.0.1", 10102, "admin", "pa'ss%word"};
    EXPECT_FALSE(doc->updateSchedule(made.key, same));
    EXPECT_TRUE(scheduler->take().empty());

    IArchivingScheduler::SiteSettings moved = same;
    moved.password = "new";
    EXPECT_TRUE(doc->updateSchedule(made.key, moved));
    EXPECT_EQ(scheduler->take(), (Calls{"updateSite 0"}));
    EXPECT_EQ(scheduler->schedules[made.key].settings.password, "new");

    doc->reschedule(made.key, moved, RecordSite::FromLast, DateTime());
    // Archiving: the new start point starts it again at once.
    EXPECT_EQ(scheduler->take(), (Calls{"stop 0", "start 0 last"}));
    doc->rename(made.key, "Gate");
    doc->setOverwrite(made.key, false);
    EXPECT_EQ(scheduler->take(), (Calls{"setOverwrite 0 off"}));
    EXPECT_EQ(stored("overwrite", "Gate"), 0);
}

TEST_F(CQuillfenDocTest, DeletingKeepsOrRemovesTheGroupsFilesAndAlwaysKeepsTheRow) {
    ScheduleWizardResult kept = wizard("Kept", 2);
    ScheduleWizardResult gone = wizard("Gone", 2);
    int keptKey = doc->newSchedule(kept).key;
    int goneKey = doc->newSchedule(gone).key;
    ASSERT_GE(goneKey, 0);
    doc->deleteSchedule(keptKey, false);
    doc->deleteSchedule(goneKey, true);
    for (const std::string& path : kept.storageFiles) {
        EXPECT_TRUE(std::filesystem::exists(path)) << path;
    }
    EXPECT_TRUE(std::filesystem::exists(kept.groupFile));
    for (const std::string& path : gone.storageFiles) {
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    }
    EXPECT_FALSE(std::filesystem::exists(gone.groupFile));
    EXPECT_EQ(stored("deleted", "Kept") + stored("deleted", "Gone"), 2);
    EXPECT_EQ(rows.removed, 2);
    EXPECT_EQ(SiteContainer::instance().snapshots().size(), 0u);
}

TEST_F(CQuillfenDocTest, StartUpResumesArchivingSitesAndHoldsOnesWithoutTheirGroupFile) {
    scheduler->resumableByDefault = true;
    ScheduleWizardResult running = wizard("Running");
    ScheduleWizardResult stopped = wizard("Stopped");
    ScheduleWizardResult lost = wizard("Lost");
    int runningKey = doc->newSchedule(running).key;
    int stoppedKey = doc->newSchedule(stopped).key;
    int lostKey = doc->newSchedule(lost).key;
    for (int key : {runningKey, stoppedKey, lostKey}) {
        doc->scheduleProgress(key, DateTime(2026, 12, 9, 7, 0, 0));
    }
    doc->stopArchive(stoppedKey);
    closeStation();
    std::filesystem::remove(lost.groupFile);

    restartStation(true);
    Calls calls = scheduler->take();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(Calls(calls.begin(), calls.begin() + 4), (Calls{"initialise 600", "create 0 overwrite", "create 1 overwrite", "create 2 overwrite"}));
    for (const RecordSite& held : SiteContainer::instance().snapshots()) {
        if (held.name() == "Lost") {
            EXPECT_EQ(held.status(), RecordSite::NotArchivable);
            EXPECT_EQ(held.statusText(), "Storage group file not found");
        } else if (held.name() == "Stopped") {
            EXPECT_FALSE(held.archiving());
        } else {
            EXPECT_TRUE(held.archiving());
            EXPECT_EQ(calls.back(), "resume " + std::to_string(held.scheduleKey()));
        }
    }
    // Held back, not forgotten: once the group file is back, a later start resumes it.
    EXPECT_EQ(stored("archiving", "Lost"), 1);
}

TEST_F(CQuillfenDocTest, ScheduleAndEventReportsKeepTheSiteState) {
    int key = doc->newSchedule(wizard("Cam")).key;
    ASSERT_GE(key, 0);
    doc->scheduleConnecting(key);
    EXPECT_EQ(site(key).statusText(), "Connecting");
    EXPECT_EQ(site(key).speedClass(), 3);
    doc->scheduleArchiving(key);
    EXPECT_EQ(rows.lastStatus, "Archiving");

    ArchivingEvent refused;
    refused.key = key;
    refused.site = site(key).id();
    refused.type = ArchivingEvent::Disconnected;
    refused.value = 111;
    EventManager::instance().post(refused);
    doc->scheduleFailed(key);
    doc->scheduleStopped(key);
    EXPECT_EQ(site(key).statusText(), "Connection refused");
    EXPECT_EQ(stored("archiving", "Cam"), 0);

    doc->startArchive(key);
    ArchivingEvent full = refused;
    full.type = ArchivingEvent::NotEnoughSpace;
    EventManager::instance().post(full);
    doc->scheduleStopped(key);
    EXPECT_EQ(site(key).statusText(), "Not enough space to archive");
    EXPECT_FALSE(site(key).archiving());
}

TEST_F(CQuillfenDocTest, GroupThatCannotBeCreatedAddsNoSite) {
    ScheduleWizardResult nowhere = wizard("Cam");
    nowhere.groupFile = dir.file("missing/folder/Cam.strgx");
    CQuillfenDoc::Outcome outcome = doc->newSchedule(nowhere);
    EXPECT_EQ(outcome.error.rfind("Cannot create the storage group file : ", 0), 0u) << outcome.error;
    EXPECT_TRUE(SiteContainer::instance().snapshots().empty());

    // A storage file that exists already is listed but neither made nor formatted.
    ScheduleWizardResult taken = wizard("Yard", 2);
    std::filesystem::create_directories(dir.path());
    { std::FILE* f = std::fopen(taken.storageFiles[1].c_str(), "w"); std::fclose(f); }
    outcome = doc->newSchedule(taken);
    ASSERT_TRUE(outcome.ok()) << outcome.error;
    ASSERT_EQ(outcome.warnings.size(), 1u);
    EXPECT_EQ(outcome.warnings[0],
              "Some storage files cannot be created properly. Please check the storages created on Storage Manager.");
    EXPECT_EQ(std::filesystem::file_size(taken.storageFiles[1]), 0u);
}
