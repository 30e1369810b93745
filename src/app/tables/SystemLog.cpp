#include "app/tables/SystemLog.h"

#include "base/Exception.h"
#include "base/Trace.h"
#include "database/RowSet.h"

SystemLog::SystemLog(int level, const DateTime& time, const UniqueID& owner, int code, std::string message)
    : _level(level), _time(time), _owner(owner), _code(code), _message(std::move(message)) {}

void SystemLog::readRow(RowSet& row) {
    _rowId = row.integer64(0);
    _level = row.integer(1);
    _time = DateTime(Date(static_cast<uint32_t>(row.integer(2))), Time(static_cast<uint32_t>(row.integer(3))));
    const char* owner = row.text(4);
    try {
        _owner = UniqueID(owner);
    } catch (const Exception& e) {
        static const uint8_t none[UniqueID::SIZE] = {};
        _owner = UniqueID::fromBytes(none);
        QF_TRACE("SystemLog::readRow: entry %lld has an unreadable owner \"%s\": %s",
                 static_cast<long long>(_rowId), owner, messageOf(e));
    }
    _code = row.integer(5);
    _message = row.text(6);
}
