#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/tables/RecordSite.h"
#include "base/thread/ISingleton.h"
#include "database/AbstractDatabaseTable.h"

// Every archiving site of the station, held in memory and stored in the "sites" table.
// The all-sites map owns every record, deleted sites included, so that log entries can
// still name them; the active map holds the same records without the deleted ones.
// Database errors are traced and swallowed: the operation reports false and the maps stay
// as they were. The one error that reaches the caller is a full table (SiteLimitException).
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

    // Creates the table when missing and reads every site. False (maps unchanged) when the
    // database could not be read.
    bool load();

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

    std::map<UniqueID, std::unique_ptr<RecordSite>, IdLess> _all;
    std::map<UniqueID, RecordSite*, IdLess> _active;
    // Rows read by selectRecords, moved into the maps once the read has succeeded.
    std::vector<std::unique_ptr<RecordSite>> _selected;
    // Ids of deleted sites whose rows makeRoom removed in the transaction under way.
    std::vector<std::string> _purged;
};
