#include "database/AbstractDatabaseTable.h"

#include <algorithm>
#include <mutex>

#include "database/DataWarehouse.h"
#include "database/FormatableSQL.h"
#include "database/IDatabaseListener.h"
#include "database/RowSet.h"

AbstractDatabaseTable::AbstractDatabaseTable(std::string name, int maxRowCount)
    : _name(std::move(name)), _maxRowCount(maxRowCount) {}

AbstractDatabaseTable::~AbstractDatabaseTable() = default;

void AbstractDatabaseTable::open() {
    std::lock_guard<Mutex> lock(databaseMutex());
    std::vector<std::string> names;
    database().tableNames(names);
    if (std::find(names.begin(), names.end(), _name) == names.end()) {
        createTable();
        _rowCount = 0;
        return;
    }
    RowSet rows(database(), FormatableSQL("SELECT COUNT(id) FROM %q;", _name.c_str()).c_str());
    _rowCount = rows.next() ? rows.integer(0) : 0;
}

bool AbstractDatabaseTable::add(AbstractDatabaseRecord& record) {
    std::lock_guard<Mutex> lock(databaseMutex());
    Database& db = database();
    bool ownTransaction = !db.inTransaction();
    if (ownTransaction) {
        db.execute("BEGIN;");
    }
    int removed = 0;
    try {
        if (_rowCount >= _maxRowCount) {
            removed = makeRoom(_rowCount - _maxRowCount + 1);
        }
        insertRecord(record);
        if (ownTransaction) {
            db.execute("COMMIT;");
        }
    } catch (...) {
        if (ownTransaction) {
            db.rollbackQuietly();
        }
        throw;
    }
    _rowCount += 1 - removed;
    notify(IDatabaseListener::Added, record);
    return true;
}

void AbstractDatabaseTable::update(AbstractDatabaseRecord& record) {
    std::lock_guard<Mutex> lock(databaseMutex());
    updateRecord(record);
    notify(IDatabaseListener::Updated, record);
}

bool AbstractDatabaseTable::remove(AbstractDatabaseRecord& record) {
    std::lock_guard<Mutex> lock(databaseMutex());
    if (_rowCount <= 0) {
        return false;
    }
    _rowCount -= deleteRecord(record);
    notify(IDatabaseListener::Removed, record);
    return true;
}

int AbstractDatabaseTable::select(const char* condition, bool replace) {
    std::lock_guard<Mutex> lock(databaseMutex());
    return _rowCount > 0 ? selectRecords(condition, replace) : 0;
}

void AbstractDatabaseTable::resetCount() {
    std::lock_guard<Mutex> lock(databaseMutex());
    _rowCount = 0;
}

void AbstractDatabaseTable::addListener(IDatabaseListener* listener) {
    std::lock_guard<Mutex> lock(databaseMutex());
    if (std::find(_listeners.begin(), _listeners.end(), listener) == _listeners.end()) {
        _listeners.push_back(listener);
    }
}

void AbstractDatabaseTable::removeListener(IDatabaseListener* listener) {
    std::lock_guard<Mutex> lock(databaseMutex());
    _listeners.erase(std::remove(_listeners.begin(), _listeners.end(), listener), _listeners.end());
}

int AbstractDatabaseTable::rowCount() const {
    std::lock_guard<Mutex> lock(databaseMutex());
    return _rowCount;
}

int AbstractDatabaseTable::makeRoom(int rows) {
    FormatableSQL sql("DELETE FROM %q WHERE id = (SELECT MIN(id) FROM %q);", _name.c_str(), _name.c_str());
    int removed = 0;
    for (int i = 0; i < rows; ++i) {
        database().execute(sql.c_str());
        removed += database().changes();
    }
    return removed;
}

Database& AbstractDatabaseTable::database() const {
    return DataWarehouse::instance().database();
}

Mutex& AbstractDatabaseTable::databaseMutex() const {
    return DataWarehouse::instance().mutex();
}

void AbstractDatabaseTable::notify(int change, AbstractDatabaseRecord& record) {
    // A copy, so that a listener may remove itself while being told.
    std::vector<IDatabaseListener*> listeners = _listeners;
    for (IDatabaseListener* listener : listeners) {
        listener->databaseChanged(change, record);
    }
}
