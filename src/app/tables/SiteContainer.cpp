#include "app/tables/SiteContainer.h"

#include <atomic>
#include <mutex>

#include "app/tables/ForeignDatabaseException.h"
#include "app/tables/SiteLimitException.h"
#include "app/tables/StationSchema.h"
#include "base/ParseException.h"
#include "base/TextOf.h"
#include "base/Trace.h"
#include "database/Database.h"
#include "database/FormatableSQL.h"
#include "database/RowSet.h"

namespace {

// The column type "INTERGER" is how existing databases spell it; it must stay.
const char* const CREATE_SITES =
    "CREATE TABLE %q (id TEXT PRIMARY KEY,name TEXT,address TEXT,port INTEGER NOT NULL,username TEXT,"
    "password TEXT,storageGroupFile TEXT,timeToStart TEXT,overwrite INTEGER NOT NULL,archiving INTEGER NOT NULL,"
    "rescheduled INTEGER NOT NULL,schedule INTEGER NOT NULL,alwaysArchive INTERGER NOT NULL,"
    "timeArchiveStart TEXT,timeArchiveStop TEXT,deleted INTEGER NOT NULL);";
const char* const CREATE_SITES_INDEX = "CREATE UNIQUE INDEX sites_idx ON sites(id);";

const char* const INSERT_SITE =
    "INSERT INTO %q (id, name, address, port,username, password, storageGroupFile, timeToStart,overwrite, "
    "archiving, rescheduled, schedule,alwaysArchive, timeArchiveStart, timeArchiveStop, deleted)";
const char* const REPLACE_SITE =
    "REPLACE INTO %q (id, name, address, port,username, password, storageGroupFile, timeToStart,overwrite, "
    "archiving, rescheduled, schedule,alwaysArchive, timeArchiveStart, timeArchiveStop, deleted)";
const char* const SITE_VALUES =
    "VALUES ('%q', '%q', '%q', %d, '%q', '%q', '%q', '%q', %d, %d, %d, %d, %d, '%q', '%q', %d);";

}  // namespace

SiteContainer::SiteContainer() : AbstractDatabaseTable(TABLE, MAX_SITES) {}

SiteContainer& SiteContainer::instance() {
    static std::atomic<SiteContainer*> slot{nullptr};
    return createOnce(slot, [] { return new SiteContainer(); });
}

bool SiteContainer::load() {
    std::lock_guard<Mutex> lock(databaseMutex());
    _selected.clear();
    _selectedLeftOut.clear();
    try {
        StationSchema::verify(database());
        open();
        select(nullptr, true);
    } catch (const ForeignDatabaseException&) {
        _selected.clear();
        _selectedLeftOut.clear();
        throw;
    } catch (const DatabaseException& e) {
        _selected.clear();
        _selectedLeftOut.clear();
        QF_TRACE("SiteContainer::load: %s", e.describe().c_str());
        return false;
    }
    _active.clear();
    _all.clear();
    _leftOut.clear();
    for (const LeftOutRow& row : _selectedLeftOut) {
        leaveOut(row.idText, row.name, row.reason.c_str());
    }
    _selectedLeftOut.clear();
    for (std::unique_ptr<RecordSite>& site : _selected) {
        UniqueID id = site->id();
        auto held = _all.find(id);
        if (held != _all.end()) {
            // The table's key tells letter cases apart, the id does not. One record per id:
            // the row spelled as the station writes ids is kept, whatever the row order.
            bool ownSpelling = site->idText() == textOf(id);
            RecordSite& loser = ownSpelling ? *held->second : *site;
            leaveOut(loser.idText(), loser.name(), "its id repeats the id of another row");
            if (!ownSpelling) {
                continue;
            }
            _active.erase(id);
            _all.erase(held);
        }
        if (!site->deleted()) {
            _active[id] = site.get();
        }
        _all[id] = std::move(site);
    }
    _selected.clear();
    return true;
}

std::vector<SiteContainer::LeftOutRow> SiteContainer::leftOutRows() {
    std::lock_guard<Mutex> lock(databaseMutex());
    return _leftOut;
}

void SiteContainer::leaveOut(const std::string& idText, const std::string& name, const char* reason) {
    QF_TRACE("SiteContainer::load: the row of site \"%s\" is left out: %s (id \"%s\")", name.c_str(), reason,
             idText.c_str());
    _leftOut.push_back({idText, name, reason});
}

RecordSite* SiteContainer::find(const UniqueID& id) {
    std::lock_guard<Mutex> lock(databaseMutex());
    auto it = _all.find(id);
    return it != _all.end() ? it->second.get() : nullptr;
}

RecordSite* SiteContainer::findByName(const std::string& name) {
    std::lock_guard<Mutex> lock(databaseMutex());
    for (auto& [id, site] : _active) {
        if (site->name() == name) {
            return site;
        }
    }
    return nullptr;
}

std::vector<RecordSite*> SiteContainer::sites(bool all) {
    std::lock_guard<Mutex> lock(databaseMutex());
    std::vector<RecordSite*> result;
    if (all) {
        for (auto& [id, site] : _all) {
            result.push_back(site.get());
        }
    } else {
        for (auto& [id, site] : _active) {
            result.push_back(site);
        }
    }
    return result;
}

RecordSite* SiteContainer::add(std::unique_ptr<RecordSite> site) {
    if (site == nullptr) {
        return nullptr;
    }
    std::lock_guard<Mutex> lock(databaseMutex());
    site->setDeleted(false);
    _purged.clear();
    try {
        AbstractDatabaseTable::add(*site);
    } catch (const SiteLimitException&) {
        _purged.clear();
        throw;
    } catch (const DatabaseException& e) {
        _purged.clear();
        QF_TRACE("SiteContainer::add: %s", e.describe().c_str());
        return nullptr;
    }
    forgetPurgedSites();
    RecordSite* held = site.get();
    _active[held->id()] = held;
    _all[held->id()] = std::move(site);
    return held;
}

bool SiteContainer::update(const RecordSite& site) {
    std::lock_guard<Mutex> lock(databaseMutex());
    auto it = _active.find(site.id());
    if (it == _active.end()) {
        // Writing a deleted site would bring it back after the next restart.
        QF_TRACE("SiteContainer::update: no active site %s", textOf(site.id()).c_str());
        return false;
    }
    RecordSite* held = it->second;
    RecordSite previous;
    previous.copyColumnsFrom(*held);
    held->copyColumnsFrom(site);
    held->setDeleted(false);
    try {
        AbstractDatabaseTable::update(*held);
    } catch (const DatabaseException& e) {
        held->copyColumnsFrom(previous);
        QF_TRACE("SiteContainer::update: %s", e.describe().c_str());
        return false;
    }
    return true;
}

bool SiteContainer::remove(const RecordSite& site) {
    std::lock_guard<Mutex> lock(databaseMutex());
    auto it = _active.find(site.id());
    if (it == _active.end()) {
        return false;
    }
    RecordSite* held = it->second;
    held->setDeleted(true);
    try {
        if (!AbstractDatabaseTable::remove(*held)) {
            held->setDeleted(false);
            return false;
        }
    } catch (const DatabaseException& e) {
        held->setDeleted(false);
        QF_TRACE("SiteContainer::remove: %s", e.describe().c_str());
        return false;
    }
    _active.erase(it);
    return true;
}

RecordSite* SiteContainer::findLocked(int key) {
    if (key == RecordSite::NoKey) {
        return nullptr;
    }
    for (auto& [id, site] : _active) {
        if (site->scheduleKey() == key) {
            return site;
        }
    }
    return nullptr;
}

RecordSite* SiteContainer::find(int key) {
    std::lock_guard<Mutex> lock(databaseMutex());
    return findLocked(key);
}

std::optional<RecordSite> SiteContainer::snapshot(int key) {
    std::lock_guard<Mutex> lock(databaseMutex());
    RecordSite* site = findLocked(key);
    if (site == nullptr) {
        return std::nullopt;
    }
    return *site;
}

std::vector<RecordSite> SiteContainer::snapshots() {
    std::lock_guard<Mutex> lock(databaseMutex());
    std::vector<RecordSite> result;
    for (auto& [id, site] : _active) {
        result.push_back(*site);
    }
    return result;
}

bool SiteContainer::modify(int key, const std::function<void(RecordSite&)>& change) {
    std::lock_guard<Mutex> lock(databaseMutex());
    RecordSite* site = findLocked(key);
    if (site == nullptr) {
        return false;
    }
    change(*site);
    return true;
}

bool SiteContainer::setScheduleKey(const UniqueID& id, int key) {
    std::lock_guard<Mutex> lock(databaseMutex());
    auto it = _active.find(id);
    if (it == _active.end()) {
        return false;
    }
    it->second->setScheduleKey(key);
    return true;
}

void SiteContainer::setArchivabilityCheck(IArchivabilityCheck* check) {
    _check.store(check);
}

std::optional<int> SiteContainer::askArchivability(int key) {
    std::optional<RecordSite> site = snapshot(key);
    if (!site) {
        return std::nullopt;
    }
    IArchivabilityCheck* check = _check.load();
    return check != nullptr ? check->notArchivableReason(*site) : RecordSite::Archivable;
}

void SiteContainer::applyArchivability(RecordSite& site, int reason) {
    if (reason == RecordSite::Archivable) {
        site.setNotArchivableReason(RecordSite::Archivable);
        if (site.status() == RecordSite::NotArchivable) {
            site.setStatusValue(RecordSite::Stopped);
        }
        return;
    }
    site.setArchiving(false);
    site.setStatusValue(RecordSite::NotArchivable);
    site.setNotArchivableReason(reason);
}

bool SiteContainer::isArchivable(int key) {
    std::optional<int> reason = askArchivability(key);
    if (!reason) {
        return false;
    }
    return modify(key, [&](RecordSite& site) { applyArchivability(site, *reason); }) &&
           *reason == RecordSite::Archivable;
}

bool SiteContainer::setStatus(int key, int status) {
    if (!isArchivable(key)) {
        return false;
    }
    return modify(key, [&](RecordSite& site) {
        site.setStatusValue(status);
        bool moving = status == RecordSite::Connecting || status == RecordSite::Archiving;
        site.setSpeedClass(moving ? 3 : 0);
    });
}

bool SiteContainer::save(int key) {
    isArchivable(key);
    std::lock_guard<Mutex> lock(databaseMutex());
    RecordSite* site = findLocked(key);
    if (site == nullptr) {
        return false;
    }
    RecordSite columns = *site;
    return update(columns);
}

bool SiteContainer::setArchiving(int key, bool archiving) {
    return modify(key, [&](RecordSite& site) { site.setArchiving(archiving); }) && save(key);
}

bool SiteContainer::setRescheduled(int key, bool rescheduled) {
    return modify(key,
                  [&](RecordSite& site) {
                      site.setRescheduled(rescheduled);
                      if (!rescheduled) {
                          site.setSchedule(RecordSite::NoSchedule);
                      }
                  }) &&
           save(key);
}

bool SiteContainer::setSchedule(int key, int type, const DateTime& time) {
    return modify(key,
                  [&](RecordSite& site) {
                      site.setSchedule(type);
                      if (type == RecordSite::FromTime) {
                          site.setTimeToStart(time);
                      }
                  }) &&
           save(key);
}

void SiteContainer::createTable() {
    std::string sql = FormatableSQL(CREATE_SITES, tableName().c_str()).c_str();
    sql += CREATE_SITES_INDEX;
    database().executeInTransaction(sql.c_str());
}

void SiteContainer::insertRecord(AbstractDatabaseRecord& record) {
    database().executeInTransaction(statement(INSERT_SITE, static_cast<RecordSite&>(record), false).c_str());
}

void SiteContainer::updateRecord(AbstractDatabaseRecord& record) {
    database().executeInTransaction(statement(REPLACE_SITE, static_cast<RecordSite&>(record), false).c_str());
}

int SiteContainer::deleteRecord(AbstractDatabaseRecord& record) {
    database().executeInTransaction(statement(REPLACE_SITE, static_cast<RecordSite&>(record), true).c_str());
    return 0;
}

int SiteContainer::selectRecords(const char* condition, bool replace) {
    if (replace) {
        _selected.clear();
    }
    FormatableSQL sql("SELECT * FROM %q %s%s%s;", tableName().c_str(), condition != nullptr ? "WHERE " : "",
                      condition != nullptr ? condition : "", condition != nullptr ? " " : "");
    RowSet rows(database(), sql.c_str());
    int count = 0;
    while (rows.next()) {
        auto site = std::make_unique<RecordSite>();
        try {
            site->readRow(rows);
        } catch (const ParseException&) {
            _selectedLeftOut.push_back({rows.text(0), rows.text(1), "its id is not a valid id"});
            continue;
        }
        _selected.push_back(std::move(site));
        ++count;
    }
    return count;
}

int SiteContainer::makeRoom(int rows) {
    // Only deleted sites give up their rows, the one deleted longest ago first: a REPLACE
    // gives a row a new rowid, so the marked row with the smallest rowid is the oldest.
    FormatableSQL query("SELECT id FROM %q WHERE deleted <> 0 ORDER BY rowid LIMIT %d;", tableName().c_str(), rows);
    std::vector<std::string> ids;
    RowSet candidates(database(), query.c_str());
    while (candidates.next()) {
        ids.emplace_back(candidates.text(0));
    }
    candidates.reset();
    if (static_cast<int>(ids.size()) < rows) {
        throw SiteLimitException(QF_HERE, maxRowCount());
    }
    int removed = 0;
    for (const std::string& id : ids) {
        database().execute(FormatableSQL("DELETE FROM %q WHERE id = '%q';", tableName().c_str(), id.c_str()).c_str());
        removed += database().changes();
        _purged.push_back(id);
    }
    return removed;
}

std::string SiteContainer::statement(const char* verb, const RecordSite& site, bool deleted) const {
    std::string sql = FormatableSQL(verb, tableName().c_str()).c_str();
    sql += ' ';
    sql += FormatableSQL(SITE_VALUES, site.idText().c_str(), site.name().c_str(), site.address().c_str(),
                         site.port(), site.username().c_str(), site.password().c_str(),
                         site.storageGroupFile().c_str(), RecordSite::dateTimeText(site.timeToStart()).c_str(),
                         site.overwrite() ? 1 : 0, site.archiving() ? 1 : 0, site.rescheduled() ? 1 : 0,
                         site.schedule(), site.alwaysArchive() ? 1 : 0,
                         RecordSite::timeText(site.timeArchiveStart()).c_str(),
                         RecordSite::timeText(site.timeArchiveStop()).c_str(), deleted ? 1 : 0)
               .c_str();
    return sql;
}

// A purged row is matched by its exact id text, as the table's key matches it.
void SiteContainer::forgetPurgedSites() {
    for (const std::string& purged : _purged) {
        for (auto it = _all.begin(); it != _all.end(); ++it) {
            if (it->second->idText() == purged) {
                _active.erase(it->first);
                _all.erase(it);
                break;
            }
        }
        std::erase_if(_leftOut, [&](const LeftOutRow& row) { return row.idText == purged; });
    }
    _purged.clear();
}
