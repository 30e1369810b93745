#pragma once

class RowSet;

// One row of a table held in memory. A concrete record knows its table's columns and fills
// itself from a row set positioned on a row.
class AbstractDatabaseRecord {
public:
    virtual ~AbstractDatabaseRecord() = default;
    virtual void readRow(RowSet& row) = 0;
};
