#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/tables/IArchivabilityCheck.h"
#include "app/tables/RecordSite.h"
#include "base/thread/ISingleton.h"
#include "database/AbstractDatabaseTable.h"

// Every archiving site of the station, held in memory and stored in the "sites" table.
// The all-sites map owns every record, deleted sites included, so that log entries can
// still name them; the active map holds the same records without the deleted ones.
// Database errors are traced and swallowed: the operation reports false and the maps stay
// as they were. Two errors reach the caller: a full table (SiteLimitException) and a file
// that is not the station's (ForeignDatabaseException), which is then left unchanged.
//
// A row that is no usable site is left out of the maps and listed by leftOutRows(); its
// row stays in the table untouched. That is a row whose id is not a valid id, or one whose
// id repeats another row's in other letter case (the row spelled in the id's own form,
// else the first, is kept). A site read from a row keeps the row's id text for its writes.
//
// The run-time state of a site is kept through the operations by schedule key: before
// every status change and every save the container asks its archivability check whether
// the site can archive, and holds a site that cannot in status NotArchivable with the
// reason (and its archiving flag cleared). Without a check every site counts as archivable.
//
// Thread use: the maps are guarded by the database mutex, the one lock of every table
// statement, so a change and its row are always seen together and no order between two
// locks exists. Records stay valid until the next load(), or, for a deleted site, until
// its row is purged to make room for a new site.
class SiteContainer : public ISingleton, protected AbstractDatabaseTable {
public:
    // Rows of the table, deleted sites included.
    static constexpr int MAX_SITES = 100;
    static constexpr const char* TABLE = "sites";

    static SiteContainer& instance();

    // A row of the table that load() left out, and why.
    struct LeftOutRow {
        std::string idText;
        std::string name;
        std::string reason;
    };

    // Checks that the database is the station's (throws ForeignDatabaseException before
    // touching it otherwise), creates the table when missing and reads every site. False
    // (maps unchanged) when the database could not be read.
    bool load();
    // The rows the last load() left out, in table order.
    std::vector<LeftOutRow> leftOutRows();

    // Any site, deleted or not; null when unknown.
    RecordSite* find(const UniqueID& id);
    // An active site by its exact name; null when none.
    RecordSite* findByName(const std::string& name);
    // All sites or the active ones, in id order.
    std::vector<RecordSite*> sites(bool all);

    // Stores a new site and takes it over; returns the held record, or null when the
    // database refused it (a duplicate id, an I/O error). In a full table the deleted site
    // removed longest ago is purged for it; when every row is a live site the new one is
    // refused with SiteLimitException.
    RecordSite* add(std::unique_ptr<RecordSite> site);
    // Writes the columns of `site` into the active site with the same id. False for a
    // deleted or unknown site, or when the database refused the change.
    bool update(const RecordSite& site);
    // Marks the active site with the id of `site` deleted; its row stays.
    bool remove(const RecordSite& site);

    // Operations by schedule key, on active sites. Each returns false for a key no active
    // site holds.
    RecordSite* find(int key);
    // A copy of the site, taken under the lock, for readers on any thread.
    std::optional<RecordSite> snapshot(int key);
    std::vector<RecordSite> snapshots();
    // Changes the site's run-time state (or columns, without saving) under the lock.
    bool modify(int key, const std::function<void(RecordSite&)>& change);
    // Gives the site with `id` its schedule key.
    bool setScheduleKey(const UniqueID& id, int key);
    // Re-checks archivability, then writes the site's columns.
    bool save(int key);
    bool setArchiving(int key, bool archiving);
    // Clearing the pending start point also clears the start type.
    bool setRescheduled(int key, bool rescheduled);
    // The start type; type FromTime also stores `time`.
    bool setSchedule(int key, int type, const DateTime& time);
    // Runs the archivability check and applies its outcome: an archivable site loses its
    // reason and leaves status NotArchivable for Stopped; one that is not is held there.
    bool isArchivable(int key);
    // Takes `status` when the site is archivable; the speed class shown becomes 3 while
    // connecting or archiving, else 0. False when the site is not archivable.
    bool setStatus(int key, int status);
    // Not owned; null for none.
    void setArchivabilityCheck(IArchivabilityCheck* check);

    using AbstractDatabaseTable::addListener;
    using AbstractDatabaseTable::removeListener;
    using AbstractDatabaseTable::rowCount;

protected:
    void createTable() override;
    void insertRecord(AbstractDatabaseRecord& record) override;
    void updateRecord(AbstractDatabaseRecord& record) override;
    int deleteRecord(AbstractDatabaseRecord& record) override;
    int selectRecords(const char* condition, bool replace) override;
    int makeRoom(int rows) override;

private:
    struct IdLess {
        bool operator()(const UniqueID& a, const UniqueID& b) const { return a.lessThan(b); }
    };

    SiteContainer();
    // The INSERT or REPLACE statement writing every column of `site`.
    std::string statement(const char* verb, const RecordSite& site, bool deleted) const;
    void forgetPurgedSites();
    void leaveOut(const std::string& idText, const std::string& name, const char* reason);
    RecordSite* findLocked(int key);
    // The check's verdict for the site with `key`, asked without the lock; nullopt when no
    // active site has the key.
    std::optional<int> askArchivability(int key);
    static void applyArchivability(RecordSite& site, int reason);

    std::map<UniqueID, std::unique_ptr<RecordSite>, IdLess> _all;
    std::map<UniqueID, RecordSite*, IdLess> _active;
    // Rows read by selectRecords, moved into the maps once the read has succeeded.
    std::vector<std::unique_ptr<RecordSite>> _selected;
    std::vector<LeftOutRow> _selectedLeftOut;
    std::vector<LeftOutRow> _leftOut;
    // Ids of deleted sites whose rows makeRoom removed in the transaction under way.
    std::vector<std::string> _purged;
    std::atomic<IArchivabilityCheck*> _check{nullptr};
};
