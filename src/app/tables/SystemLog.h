#pragma once

#include <cstdint>
#include <string>

#include "base/DateTime.h"
#include "base/UniqueID.h"
#include "database/AbstractDatabaseRecord.h"

// One entry of the system log: a row of the "log" table. The time is stored as the packed
// date and time words, UTC offset included. A plain value once read or written.
class SystemLog : public AbstractDatabaseRecord {
public:
    SystemLog() = default;
    SystemLog(int level, const DateTime& time, const UniqueID& owner, int code, std::string message);

    // Takes the seven columns in table order.
    void readRow(RowSet& row) override;

    int64_t rowId() const { return _rowId; }
    void setRowId(int64_t rowId) { _rowId = rowId; }
    int level() const { return _level; }
    const DateTime& time() const { return _time; }
    // The site the entry is about.
    const UniqueID& owner() const { return _owner; }
    int code() const { return _code; }
    // Extra text after the code's own text; may be empty.
    const std::string& message() const { return _message; }

    // The packed words as stored in the date and time columns.
    static int packedDate(const Date& date) { return static_cast<int>(date.packed()); }
    static int packedTime(const Time& time) { return static_cast<int>(time.packed()); }

private:
    int64_t _rowId = 0;
    int _level = 0;
    DateTime _time;
    UniqueID _owner;
    int _code = 0;
    std::string _message;
};
