#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "app/tables/SystemLog.h"
#include "base/thread/ISingleton.h"
#include "database/AbstractDatabaseTable.h"

// The user-visible system log, stored in the "log" table, which keeps the newest 10000
// entries. Any thread may log. The entry map holds the entries a search read back plus
// the entries logged since; it never holds more than the table's maximum.
// Database errors are traced and swallowed: the call reports false, the map is unchanged.
// The exception is a file that is not the station's (ForeignDatabaseException from open()).
//
// Thread use: the map is guarded by the database mutex, the one lock of every table
// statement, so an entry and its row id are always taken together.
class SystemLogger : public ISingleton, protected AbstractDatabaseTable {
public:
    static constexpr int MAX_ENTRIES = 10000;
    static constexpr const char* TABLE = "log";

    static SystemLogger& instance();

    // Checks that the database is the station's (throws ForeignDatabaseException before
    // touching it otherwise), creates the table when missing and counts its rows; empties
    // the map. False when the database could not be read.
    bool open();

    // Stores an entry stamped with the current local time; `text` may be null.
    bool log(int level, const UniqueID& site, int code, const char* text = nullptr);
    bool info(const UniqueID& site, int code, const char* text = nullptr);
    bool error(const UniqueID& site, int code, const char* text = nullptr);

    // Replaces the map's contents with the entries dated from `from` to `to`, both
    // included, of `site` when one is given.
    bool select(const Date& from, const Date& to, const UniqueID* site = nullptr);
    // A copy of the map, oldest entry first.
    std::vector<SystemLog> entries();

    using AbstractDatabaseTable::addListener;
    using AbstractDatabaseTable::removeListener;
    using AbstractDatabaseTable::rowCount;

protected:
    void createTable() override;
    void insertRecord(AbstractDatabaseRecord& record) override;
    void updateRecord(AbstractDatabaseRecord& record) override;
    int deleteRecord(AbstractDatabaseRecord& record) override;
    int selectRecords(const char* condition, bool replace) override;

private:
    SystemLogger();
    void keep(const SystemLog& entry);

    std::map<int64_t, SystemLog> _entries;
    // Rows read by selectRecords, moved into the map once the read has succeeded.
    std::map<int64_t, SystemLog> _selected;
};
