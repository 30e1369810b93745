#include "app/tables/RecordSite.h"

#include <cstdlib>
#include <cstring>

#include "app/tables/SystemLogCode.h"
#include "base/TextOf.h"
#include "database/RowSet.h"

namespace {

// Splits `text` at any of `separators` and reads up to `count` decimal numbers; returns
// how many it read.
int readNumbers(const char* text, const char* separators, int* numbers, int count) {
    int found = 0;
    const char* p = text;
    while (*p != '\0' && found < count) {
        p += std::strspn(p, separators);
        if (*p == '\0') {
            break;
        }
        char* end = nullptr;
        long value = std::strtol(p, &end, 10);
        if (end == p) {
            break;
        }
        numbers[found++] = static_cast<int>(value);
        p = end;
    }
    return found;
}

}  // namespace

RecordSite::RecordSite() = default;

void RecordSite::readRow(RowSet& row) {
    const char* idText = row.text(0);
    // A row whose id cannot be read must not load under a fresh id: every write would
    // then add a second row, and the site would show another id after each start.
    _id = UniqueID(idText);
    _rowIdText = idText;
    _name = row.text(1);
    _address = row.text(2);
    _port = row.integer(3);
    _username = row.text(4);
    _password = row.text(5);
    _storageGroupFile = row.text(6);
    _timeToStart = parseDateTime(row.text(7), DateTime(1970, 1, 1, 0, 0, 0));
    _overwrite = row.integer(8) != 0;
    _archiving = row.integer(9) != 0;
    _rescheduled = row.integer(10) != 0;
    _schedule = row.integer(11);
    _alwaysArchive = row.integer(12) != 0;
    _timeArchiveStart = parseTime(row.text(13), Time(0, 0, 0));
    _timeArchiveStop = parseTime(row.text(14), Time(0, 0, 0));
    _deleted = row.integer(15) != 0;
}

void RecordSite::setId(const UniqueID& id) {
    _id = id;
    _rowIdText.clear();
}

std::string RecordSite::idText() const {
    return _rowIdText.empty() ? textOf(_id) : _rowIdText;
}

void RecordSite::copyColumnsFrom(const RecordSite& other) {
    if (!_id.equals(other._id)) {
        setId(other._id);
    }
    _name = other._name;
    _address = other._address;
    _port = other._port;
    _username = other._username;
    _password = other._password;
    _storageGroupFile = other._storageGroupFile;
    _timeToStart = other._timeToStart;
    _overwrite = other._overwrite;
    _archiving = other._archiving;
    _rescheduled = other._rescheduled;
    _schedule = other._schedule;
    _alwaysArchive = other._alwaysArchive;
    _timeArchiveStart = other._timeArchiveStart;
    _timeArchiveStop = other._timeArchiveStop;
    _deleted = other._deleted;
}

std::string RecordSite::statusText() const {
    switch (_status) {
        case Connecting:
            return "Connecting";
        case Archiving:
            return "Archiving";
        case Stopped:
            return "Stopped";
        case Failed: {
            std::string text = SystemLogCode::text(_lastEvent.logCode);
            return _lastEvent.text.empty() ? text : text + " : " + _lastEvent.text;
        }
        case NoSpace:
            return "Not enough space to archive";
        case NotArchivable:
            return reasonText(_notArchivableReason);
        default:
            return "";
    }
}

const char* RecordSite::reasonText(int reason) {
    switch (reason) {
        case GroupFileNotFound:
            return "Storage group file not found";
        case GroupFileCorrupted:
            return "Storage group file corrupted";
        case NoStorage:
            return "No storage to archive";
        case NoStartPoint:
            return "No schedule specified";
        default:
            return "";
    }
}

std::string RecordSite::dateTimeText(const DateTime& time) {
    return textOf(time);
}

std::string RecordSite::timeText(const Time& time) {
    return textOf(time);
}

DateTime RecordSite::parseDateTime(const char* text, const DateTime& fallback) {
    int n[6];
    if (readNumbers(text, " /:", n, 6) < 6) {
        return fallback;
    }
    return DateTime(n[0], n[1], n[2], n[3], n[4], n[5]);
}

Time RecordSite::parseTime(const char* text, const Time& fallback) {
    int n[3];
    if (readNumbers(text, " :", n, 3) < 3) {
        return fallback;
    }
    return Time(n[0], n[1], n[2]);
}
