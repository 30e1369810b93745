#pragma once

#include <cstdint>
#include <string>

#include "base/DateTime.h"
#include "base/Time.h"
#include "base/UniqueID.h"
#include "database/AbstractDatabaseRecord.h"

// One archiving site: a row of the "sites" table, with its recorder's connection settings
// and its archiving schedule, and the run-time state the station keeps beside the columns
// (schedule key, status, storage usage, speed, last event), which is never stored. Records
// held by the SiteContainer are shared by the threads that use sites; the container's
// operations are the synchronised way to change them, and readers take copies.
class RecordSite : public AbstractDatabaseRecord {
public:
    // Start types of the schedule.
    enum Schedule { NoSchedule = 0, FromFirst = 1, FromLast = 2, FromTime = 3 };

    // Site status values; the list shows each with statusText().
    enum Status { Connecting = 0, Archiving = 1, Stopped = 2, Failed = 3, NoSpace = 4, NotArchivable = 5 };
    // Why a site in status NotArchivable cannot archive.
    enum Reason {
        Archivable = 0,
        GroupFileNotFound = 1,
        GroupFileCorrupted = 2,
        NoStorage = 3,
        NoStartPoint = 4,
    };
    static constexpr int NoKey = -1;

    // The archiving event a site last saw, with the system-log code it maps to.
    struct LastEvent {
        int type = 0;
        int value = 0;
        std::string text;
        int logCode = 0;
    };

    // A new site with a fresh id and the defaults: start time 1970/01/01 00:00:00,
    // archiving at all hours, archiving hours 00:00:00.
    RecordSite();

    // Takes the sixteen columns in table order. Throws ParseException, leaving the record
    // incomplete, when the id column is not a valid id: such a row is no usable site.
    void readRow(RowSet& row) override;
    // Copies the stored columns of `other`, not the run-time state. The id's row text
    // stays with this record unless the id itself changes.
    void copyColumnsFrom(const RecordSite& other);

    const UniqueID& id() const { return _id; }
    void setId(const UniqueID& id);
    // The id as the site's row spells it: the text read from the table (which may differ
    // from the id's own lower-case form in letter case), or that form for a site not read
    // from the table. Writes use it, so they replace the row the site came from.
    std::string idText() const;
    const std::string& name() const { return _name; }
    void setName(const std::string& name) { _name = name; }
    const std::string& address() const { return _address; }
    void setAddress(const std::string& address) { _address = address; }
    int port() const { return _port; }
    void setPort(int port) { _port = port; }
    const std::string& username() const { return _username; }
    void setUsername(const std::string& username) { _username = username; }
    // Stored as entered.
    const std::string& password() const { return _password; }
    void setPassword(const std::string& password) { _password = password; }
    const std::string& storageGroupFile() const { return _storageGroupFile; }
    void setStorageGroupFile(const std::string& path) { _storageGroupFile = path; }
    const DateTime& timeToStart() const { return _timeToStart; }
    void setTimeToStart(const DateTime& time) { _timeToStart = time; }
    bool overwrite() const { return _overwrite; }
    void setOverwrite(bool overwrite) { _overwrite = overwrite; }
    // The site was archiving when last saved; a restart resumes it.
    bool archiving() const { return _archiving; }
    void setArchiving(bool archiving) { _archiving = archiving; }
    // A new start point is pending.
    bool rescheduled() const { return _rescheduled; }
    void setRescheduled(bool rescheduled) { _rescheduled = rescheduled; }
    int schedule() const { return _schedule; }
    void setSchedule(int schedule) { _schedule = schedule; }
    bool alwaysArchive() const { return _alwaysArchive; }
    void setAlwaysArchive(bool always) { _alwaysArchive = always; }
    const Time& timeArchiveStart() const { return _timeArchiveStart; }
    void setTimeArchiveStart(const Time& time) { _timeArchiveStart = time; }
    const Time& timeArchiveStop() const { return _timeArchiveStop; }
    void setTimeArchiveStop(const Time& time) { _timeArchiveStop = time; }
    // A deleted site keeps its row so that log entries can still name it.
    bool deleted() const { return _deleted; }
    void setDeleted(bool deleted) { _deleted = deleted; }

    // Run-time state, never stored.
    int scheduleKey() const { return _scheduleKey; }
    void setScheduleKey(int key) { _scheduleKey = key; }
    int status() const { return _status; }
    void setStatusValue(int status) { _status = status; }
    int notArchivableReason() const { return _notArchivableReason; }
    void setNotArchivableReason(int reason) { _notArchivableReason = reason; }
    uint64_t usedBytes() const { return _usedBytes; }
    uint64_t capacity() const { return _capacity; }
    void setUsage(uint64_t usedBytes, uint64_t capacity) {
        _usedBytes = usedBytes;
        _capacity = capacity;
    }
    const DateTime& lastArchivedTime() const { return _lastArchivedTime; }
    void setLastArchivedTime(const DateTime& time) { _lastArchivedTime = time; }
    int speedClass() const { return _speedClass; }
    void setSpeedClass(int speedClass) { _speedClass = static_cast<int16_t>(speedClass); }
    const LastEvent& lastEvent() const { return _lastEvent; }
    void setLastEvent(const LastEvent& event) { _lastEvent = event; }

    // The text the list shows for the status: for a failed site the log text of its last
    // event (with the event's own text after " : " when it has one), for a site that
    // cannot archive the reason.
    std::string statusText() const;
    static const char* reasonText(int reason);

    // Column texts of the stored date and times: "2009/03/01 23:00:00" and "23:00:00".
    static std::string dateTimeText(const DateTime& time);
    static std::string timeText(const Time& time);
    // Reads those texts back by splitting at blanks, slashes and colons; a text with
    // fewer numbers than needed gives `fallback`.
    static DateTime parseDateTime(const char* text, const DateTime& fallback);
    static Time parseTime(const char* text, const Time& fallback);

private:
    UniqueID _id;
    std::string _rowIdText;  // empty unless read from a row
    std::string _name;
    std::string _address;
    int _port = 0;
    std::string _username;
    std::string _password;
    std::string _storageGroupFile;
    DateTime _timeToStart{1970, 1, 1, 0, 0, 0};
    bool _overwrite = false;
    bool _archiving = false;
    bool _rescheduled = false;
    int _schedule = NoSchedule;
    bool _alwaysArchive = true;
    Time _timeArchiveStart{0, 0, 0};
    Time _timeArchiveStop{0, 0, 0};
    bool _deleted = false;

    int _scheduleKey = NoKey;
    int _status = NotArchivable;
    int _notArchivableReason = Archivable;
    uint64_t _usedBytes = 0;
    uint64_t _capacity = 0;
    DateTime _lastArchivedTime;
    int16_t _speedClass = 0;
    LastEvent _lastEvent;
};
