#include "app/tables/SystemLogger.h"

#include <atomic>
#include <mutex>

#include "app/tables/ForeignDatabaseException.h"
#include "app/tables/StationSchema.h"
#include "app/tables/SystemLogCode.h"
#include "base/Clock.h"
#include "base/DatabaseException.h"
#include "base/TextOf.h"
#include "base/Trace.h"
#include "database/Database.h"
#include "database/FormatableSQL.h"
#include "database/RowSet.h"

namespace {

const char* const CREATE_LOG =
    "CREATE TABLE %q (id INTEGER PRIMARY KEY,level INTEGER NOT NULL,date INTEGER NOT NULL,time INTEGER NOT NULL,"
    " owner TEXT,log INTEGER NOT NULL,message TEXT);";
const char* const INSERT_LOG = "INSERT INTO %q (level, date, time, owner, log, message) ";
const char* const LOG_VALUES = "VALUES (%d, %d, %d, '%q', %d, '%q'); ";

}  // namespace

SystemLogger::SystemLogger() : AbstractDatabaseTable(TABLE, MAX_ENTRIES) {}

SystemLogger& SystemLogger::instance() {
    static std::atomic<SystemLogger*> slot{nullptr};
    return createOnce(slot, [] { return new SystemLogger(); });
}

bool SystemLogger::open() {
    std::lock_guard<Mutex> lock(databaseMutex());
    try {
        StationSchema::verify(database());
        AbstractDatabaseTable::open();
    } catch (const ForeignDatabaseException&) {
        throw;
    } catch (const DatabaseException& e) {
        QF_TRACE("SystemLogger::open: %s", e.describe().c_str());
        return false;
    }
    _entries.clear();
    return true;
}

bool SystemLogger::log(int level, const UniqueID& site, int code, const char* text) {
    SystemLog entry(level, Clock::current().now(), site, code, text != nullptr ? text : "");
    std::lock_guard<Mutex> lock(databaseMutex());
    try {
        add(entry);
    } catch (const DatabaseException& e) {
        QF_TRACE("SystemLogger::log: %s", e.describe().c_str());
        return false;
    }
    keep(entry);
    return true;
}

bool SystemLogger::info(const UniqueID& site, int code, const char* text) {
    return log(SystemLogLevel::Info, site, code, text);
}

bool SystemLogger::error(const UniqueID& site, int code, const char* text) {
    return log(SystemLogLevel::Error, site, code, text);
}

bool SystemLogger::select(const Date& from, const Date& to, const UniqueID* site) {
    std::string condition =
        FormatableSQL("date >= %d AND date <= %d", SystemLog::packedDate(from), SystemLog::packedDate(to)).c_str();
    if (site != nullptr) {
        condition += FormatableSQL(" AND owner = '%q'", textOf(*site).c_str()).c_str();
    }
    std::lock_guard<Mutex> lock(databaseMutex());
    _selected.clear();
    try {
        AbstractDatabaseTable::select(condition.c_str(), true);
    } catch (const DatabaseException& e) {
        _selected.clear();
        QF_TRACE("SystemLogger::select: %s", e.describe().c_str());
        return false;
    }
    _entries.swap(_selected);
    _selected.clear();
    return true;
}

std::vector<SystemLog> SystemLogger::entries() {
    std::lock_guard<Mutex> lock(databaseMutex());
    std::vector<SystemLog> result;
    result.reserve(_entries.size());
    for (const auto& [rowId, entry] : _entries) {
        result.push_back(entry);
    }
    return result;
}

void SystemLogger::createTable() {
    database().executeInTransaction(FormatableSQL(CREATE_LOG, tableName().c_str()).c_str());
}

void SystemLogger::insertRecord(AbstractDatabaseRecord& record) {
    auto& entry = static_cast<SystemLog&>(record);
    std::string sql = FormatableSQL(INSERT_LOG, tableName().c_str()).c_str();
    sql += FormatableSQL(LOG_VALUES, entry.level(), SystemLog::packedDate(entry.time().date()),
                         SystemLog::packedTime(entry.time().time()), textOf(entry.owner()).c_str(), entry.code(),
                         entry.message().c_str())
               .c_str();
    database().executeInTransaction(sql.c_str());
    entry.setRowId(database().lastInsertRowId());
}

void SystemLogger::updateRecord(AbstractDatabaseRecord& record) {
    auto& entry = static_cast<SystemLog&>(record);
    FormatableSQL sql("UPDATE %q SET level = %d, date = %d, time = %d, owner = '%q', log = %d, message = '%q' "
                      "WHERE id = %lld;",
                      tableName().c_str(), entry.level(), SystemLog::packedDate(entry.time().date()),
                      SystemLog::packedTime(entry.time().time()), textOf(entry.owner()).c_str(), entry.code(),
                      entry.message().c_str(), static_cast<long long>(entry.rowId()));
    database().executeInTransaction(sql.c_str());
}

int SystemLogger::deleteRecord(AbstractDatabaseRecord& record) {
    auto& entry = static_cast<SystemLog&>(record);
    database().executeInTransaction(
        FormatableSQL("DELETE FROM %q WHERE id = %lld;", tableName().c_str(), static_cast<long long>(entry.rowId()))
            .c_str());
    int removed = database().changes();
    if (removed > 0) {
        _entries.erase(entry.rowId());
    }
    return removed;
}

int SystemLogger::selectRecords(const char* condition, bool replace) {
    if (replace) {
        _selected.clear();
    }
    FormatableSQL sql("SELECT * FROM %q %s%s%s;", tableName().c_str(), condition != nullptr ? "WHERE " : "",
                      condition != nullptr ? condition : "", condition != nullptr ? " " : "");
    RowSet rows(database(), sql.c_str());
    int count = 0;
    while (rows.next()) {
        SystemLog entry;
        entry.readRow(rows);
        _selected[entry.rowId()] = entry;
        ++count;
    }
    return count;
}

void SystemLogger::keep(const SystemLog& entry) {
    _entries[entry.rowId()] = entry;
    while (static_cast<int>(_entries.size()) > MAX_ENTRIES) {
        _entries.erase(_entries.begin());
    }
}
