#pragma once

#include <string>
#include <vector>

#include "base/thread/Mutex.h"

class AbstractDatabaseRecord;
class Database;
class IDatabaseListener;

// The generic part of a table of the configuration database: it creates the table on
// first use, keeps the number of rows, keeps the table at its maximum row count by making
// room before an insert, and tells listeners about every change. Concrete tables supply
// the SQL for creating, inserting, updating, deleting and selecting their records.
//
// Every operation holds the DataWarehouse's database mutex, so a table may be used from
// any thread; the concrete operations run with that mutex held. Errors are thrown as
// DatabaseException; an operation that fails leaves the database and the row count as
// they were.
class AbstractDatabaseTable {
public:
    AbstractDatabaseTable(std::string name, int maxRowCount);
    virtual ~AbstractDatabaseTable();
    AbstractDatabaseTable(const AbstractDatabaseTable&) = delete;
    AbstractDatabaseTable& operator=(const AbstractDatabaseTable&) = delete;

    // Creates the table when the database does not have it yet, otherwise counts its rows.
    void open();
    // Inserts `record`; in a full table makeRoom() first frees a row, in the same
    // transaction, so a failed insert never costs an old row. Returns true.
    bool add(AbstractDatabaseRecord& record);
    void update(AbstractDatabaseRecord& record);
    // Does nothing and returns false when the table has no rows.
    bool remove(AbstractDatabaseRecord& record);
    // Reads the records matching `condition` (an SQL expression, or null for all);
    // `replace` asks the table to drop the records it held before. 0 for an empty table.
    int select(const char* condition, bool replace);
    void resetCount();

    // Adds `listener` once; it is not owned and must be removed before it dies.
    void addListener(IDatabaseListener* listener);
    void removeListener(IDatabaseListener* listener);

    const std::string& tableName() const { return _name; }
    int maxRowCount() const { return _maxRowCount; }
    int rowCount() const;

protected:
    virtual void createTable() = 0;
    virtual void insertRecord(AbstractDatabaseRecord& record) = 0;
    virtual void updateRecord(AbstractDatabaseRecord& record) = 0;
    // Returns the number of rows it removed from the table (a table that keeps removed
    // records as marked rows returns 0), so the row count stays true.
    virtual int deleteRecord(AbstractDatabaseRecord& record) = 0;
    virtual int selectRecords(const char* condition, bool replace) = 0;
    // Frees `rows` rows of a full table and returns how many it deleted. By default the
    // rows with the smallest ids go, oldest first for tables whose id grows. A table that
    // must refuse instead throws, and the insert does not happen.
    virtual int makeRoom(int rows);

    Database& database() const;
    Mutex& databaseMutex() const;
    void notify(int change, AbstractDatabaseRecord& record);

private:
    std::string _name;
    int _maxRowCount;
    int _rowCount = 0;
    std::vector<IDatabaseListener*> _listeners;
};
