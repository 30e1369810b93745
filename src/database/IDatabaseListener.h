#pragma once

class AbstractDatabaseRecord;

// Told about every row a table added, updated or removed. Called on the thread that made
// the change, with the database mutex held: a listener must not wait for another thread
// that may itself be waiting for the database.
class IDatabaseListener {
public:
    enum Change { Added = 0, Updated = 1, Removed = 2 };

    virtual ~IDatabaseListener() = default;
    virtual void databaseChanged(int change, AbstractDatabaseRecord& record) = 0;
};
