#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "base/BitMask32.h"
#include "base/Interval.h"
#include "base/thread/Mutex.h"
#include "storage/RecordingSection.h"
#include "storage/RecordingTableElement.h"
#include "storage/Track.h"

class TimelineElement;

// The time index of a storage. Fed with every video timeline entry, it condenses the
// stream into a few records: one when recording starts or the recorded channels change,
// one when the calendar date changes, one when the timeline moves to a new page, and a
// stop record when the stream pauses for more than a second. The record of the current
// second is held back ("reserved") until the next second shows whether it differs. A
// new section begins when the clock goes back, or after a stop record followed by an
// entry of the same time. The sections (intervals, dates, pages) are kept in memory and
// rebuilt from the table's back chain at open.
//
// Threads: the storage's writer feeds and cuts it; the table mutex guards the in-memory
// state, so queries may run on other threads.
class RecordingTable : public Track {
public:
    // One slice of the time table: what was recorded on which channels, in which section.
    struct TimeSlice {
        uint32_t sectionID = 0;
        Interval interval;
        BitMask32 channels;
    };
    struct DateIDs {
        uint64_t firstID = 0;
        uint64_t lastID = 0;
    };
    // Where a section begins: its ID and the media ID of its first record.
    struct SectionStart {
        uint32_t id = 0;
        uint64_t firstMediaID = 0;
    };

    RecordingTable();
    ~RecordingTable() override;

    void init(Storage* storage, bool write, uint32_t lastPageNumber) override;
    bool close(bool flush) override;
    std::unique_ptr<IRecordable> newElement() const override;
    void beforeFullFlush() override { finish(); }

    void update(const TimelineElement& entry, const PagePosition& entryPosition);
    // Writes the pending record when it says something new, then a stop record.
    void finish();
    void writeStop();
    void startSection(uint32_t id);

    uint32_t currentSectionID();
    bool hasSection(uint32_t id);
    std::set<uint32_t> sectionIDs();
    uint32_t firstSectionID();
    uint32_t nextSectionID(uint32_t id, RecordingSection& out);
    uint32_t previousSectionID(uint32_t id, RecordingSection& out);
    uint32_t sectionOfMediaID(uint64_t id);
    bool isSectionStart(uint64_t id);
    bool firstRecordOfSection(uint32_t section, RecordingTableElement& out);
    bool section(uint32_t id, RecordingSection& out);
    std::vector<RecordingSection> sections();
    std::vector<SectionStart> sectionStarts();

    // The nearest written record after `afterID` (before `beforeID`) whose channels
    // intersect `channels`; a `channels` of 0 accepts every record, stop records too.
    // Read from the table's pages through a page object of the caller's thread, so
    // readers may ask while the writer records; pages given up meanwhile are passed over.
    bool nextRecord(uint64_t afterID, BitMask32 channels, RecordingTableElement& out);
    bool previousRecord(uint64_t beforeID, BitMask32 channels, RecordingTableElement& out);

    Interval recordingInterval();
    void recordingDates(std::map<Date, DateIDs>& out);
    // The records of a section inside an interval (all when it is unset), in table order.
    void sectionRecords(uint32_t sectionID, const Interval& interval, std::vector<RecordingTableElement>& out);
    void recordingTimeTable(BitMask32 channels, const Interval& interval, std::vector<TimeSlice>& out);

    bool overwrite(uint64_t before) override;
    void rollback(uint64_t after, IRecordable& scratch) override;
    void rollbackAfter(uint64_t after) override;
    // Undo of an interrupted write: cut after `after` and replay the timeline from the
    // new last record, so the reserved state matches what the timeline holds.
    void rollback(uint32_t section, uint64_t after);

    // Feeds the video entries the timeline holds after the table's last record, as a
    // crash may have kept them from the table; returns how many were fed.
    uint32_t catchUpWithTimeline();

    // For diagnostics and tests.
    RecordingTableElement lastRecord();
    RecordingTableElement reservedRecord();
    DateTime lastTime();

private:
    enum class Kind { Reserved, EndOfDate, Continuous, Stop };

    void resetInternals(uint32_t id);
    void rebuild();
    void writeRecord(RecordingTableElement record, Kind kind);
    void writeReserved(Kind kind);
    uint32_t replayTimelineFrom(const PagePosition& position, const DateTime& after);
    // Rebuilds the state from the table's last record and replays the timeline after it.
    uint32_t resumeFromLastRecord(uint32_t sectionWhenEmpty);
    bool readLastRecord(RecordingTableElement& record, PagePosition& position);
    bool findRecord(uint64_t fromID, bool forward, BitMask32 channels, RecordingTableElement& out);
    void lastOfTimeline(DateTime& time, PagePosition& position);

    Mutex _mutex;
    RecordingTableElement _last;
    RecordingTableElement _reserved;
    DateTime _lastTime;
    PagePosition _lastTimelinePosition;
    PagePosition _lastPosition;
    uint32_t _sectionID = 1;
    BitMask32 _lastMask;
    std::map<uint32_t, RecordingSection> _sections;
};
