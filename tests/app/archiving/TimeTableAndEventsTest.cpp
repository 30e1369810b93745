#include <gtest/gtest.h>

#include <vector>

#include "TempDir.h"
#include "app/archiving/ArchiveProfiler.h"
#include "app/archiving/ArchivingEvent.h"
#include "app/archiving/EventListener.h"
#include "app/archiving/EventManager.h"
#include "app/archiving/ExponentialDelay.h"
#include "app/archiving/MergedTimeTable.h"
#include "app/tables/SystemLogCode.h"
#include "app/tables/SystemLogger.h"
#include "base/Clock.h"
#include "base/TextOf.h"
#include "database/DataWarehouse.h"

namespace {

DateTime at(int hour, int minute, int second) {
    return DateTime(2009, 3, 1, hour, minute, second);
}

RecordedSlice slice(uint32_t id, const DateTime& from, const DateTime& to) {
    RecordedSlice s;
    s.id = id;
    s.interval = Interval(from, to);
    s.channels = BitMask32(0x1);
    return s;
}

std::string text(const Interval& interval) {
    return textOf(interval);
}

}  // namespace

TEST(ExponentialDelay, DoublesUpToTheMaximumAndStartsAgainAfterAReset) {
    ExponentialDelay delay;
    delay.init(1, 2, 1800);
    std::vector<int> waits;
    for (int i = 0; i < 14; ++i) waits.push_back(delay.next());
    EXPECT_EQ(waits, (std::vector<int>{1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 1800, 1800, 1800}));
    delay.reset();
    EXPECT_EQ(delay.next(), 1);
    // A factor that would overflow an int still stops at the maximum.
    delay.init(1 << 30, 16, 1800);
    delay.next();
    EXPECT_EQ(delay.next(), 1800);
}

TEST(ArchiveProfiler, SpeedClassFollowsArchivedSecondsPerWallSecond) {
    ManualClock clock(at(10, 0, 0));
    ArchiveProfiler profiler;
    EXPECT_FALSE(profiler.isActive());
    profiler.start();
    EXPECT_TRUE(profiler.isActive());
    EXPECT_EQ(profiler.archiveSpeed(), ArchiveProfiler::Slow);  // nothing measured yet

    clock.advanceMilliseconds(10000);
    profiler.add(10);
    EXPECT_EQ(profiler.elapsed(), 10000u);
    EXPECT_EQ(profiler.archiveSpeed(), ArchiveProfiler::Normal);  // exactly 1
    profiler.add(5);
    EXPECT_EQ(profiler.archiveSpeed(), ArchiveProfiler::Normal);  // exactly 1.5
    profiler.add(1);
    EXPECT_EQ(profiler.archiveSpeed(), ArchiveProfiler::Fast);
    profiler.add(-100);  // a frame earlier than the last one takes nothing away
    EXPECT_EQ(profiler.archiveSpeed(), ArchiveProfiler::Fast);

    profiler.reset();
    clock.advanceMilliseconds(10000);
    profiler.add(9);
    EXPECT_EQ(profiler.archiveSpeed(), ArchiveProfiler::Slow);
    profiler.clear();
    EXPECT_FALSE(profiler.isActive());
}

TEST(MergedTimeTable, SlicesOneSecondApartMergeAndAHullReplacesWhatItCovers) {
    MergedTimeTable table;
    table.mergeAll({slice(1, at(10, 0, 0), at(10, 5, 0)), slice(2, at(10, 5, 1), at(10, 10, 0))});
    ASSERT_EQ(table.slices().size(), 1u);
    EXPECT_EQ(text(table.slices()[0].interval), "[2009/03/01 10:00:00, 2009/03/01 10:10:00]");

    table.mergeAll({slice(1, at(10, 0, 0), at(10, 5, 0)), slice(2, at(10, 5, 2), at(10, 10, 0))});
    EXPECT_EQ(table.slices().size(), 2u);

    // Out of order, then one slice covering all but the last.
    table.mergeAll({slice(3, at(12, 0, 0), at(12, 1, 0)), slice(1, at(10, 0, 0), at(10, 1, 0)),
                    slice(2, at(11, 0, 0), at(11, 1, 0)), slice(4, at(13, 0, 0), at(13, 1, 0)),
                    slice(5, at(9, 0, 0), at(12, 30, 0))});
    ASSERT_EQ(table.slices().size(), 2u);
    EXPECT_EQ(text(table.slices()[0].interval), "[2009/03/01 09:00:00, 2009/03/01 12:30:00]");
    EXPECT_EQ(text(table.slices()[1].interval), "[2009/03/01 13:00:00, 2009/03/01 13:01:00]");
    EXPECT_EQ(text(table.endOfRecording()), "[2009/03/01 13:01:00, 2009/03/01 13:01:00]");
    EXPECT_EQ(table.received().size(), 5u);
}

TEST(MergedTimeTable, NextChunkCountsRecordedSecondsAcrossGaps) {
    MergedTimeTable table;
    table.mergeAll({slice(1, at(0, 0, 0), at(0, 4, 59)), slice(2, at(1, 0, 0), at(2, 0, 0))});
    EXPECT_EQ(text(table.nextChunk(at(0, 0, 0), 601)), "[2009/03/01 00:00:00, 2009/03/01 01:05:00]");
    // From inside a slice the chunk holds the first 601 seconds after that point.
    EXPECT_EQ(text(table.nextChunk(at(1, 30, 0), 601)), "[2009/03/01 01:30:00, 2009/03/01 01:40:00]");
    // From a gap the chunk starts at the next slice.
    EXPECT_EQ(text(table.nextChunk(at(0, 30, 0), 601)), "[2009/03/01 01:00:00, 2009/03/01 01:10:00]");
    // Less than the limit left: up to the end of the recording.
    EXPECT_EQ(text(table.nextChunk(at(1, 55, 0), 601)), "[2009/03/01 01:55:00, 2009/03/01 02:00:00]");
    // The last second of the recording is a chunk of its own; after it there is none.
    EXPECT_EQ(text(table.nextChunk(at(2, 0, 0), 601)), "[2009/03/01 02:00:00, 2009/03/01 02:00:00]");
    EXPECT_FALSE(table.nextChunk(at(2, 0, 1), 601).from().isValid());
    EXPECT_FALSE(MergedTimeTable().nextChunk(at(0, 0, 0), 601).from().isValid());
}

TEST(MergedTimeTable, OverlapBeginReachesBackToSectionsRecordedAfterTheClockWentBack) {
    MergedTimeTable table;
    // Section 2 was recorded after section 1 with the clock set back to 10:20.
    table.mergeAll({slice(1, at(10, 0, 0), at(10, 30, 0)), slice(2, at(10, 20, 0), at(11, 0, 0)),
                    slice(3, at(12, 0, 0), at(12, 10, 0))});
    ASSERT_EQ(table.slices().size(), 2u);
    EXPECT_TRUE(table.overlapBegin(Interval(at(10, 25, 0), at(10, 35, 0))).equals(at(10, 20, 0)));
    // Outside the overlap nothing reaches back.
    EXPECT_TRUE(table.overlapBegin(Interval(at(10, 5, 0), at(10, 15, 0))).equals(at(10, 5, 0)));
    EXPECT_TRUE(table.overlapBegin(Interval(at(10, 40, 0), at(10, 50, 0))).equals(at(10, 40, 0)));
    EXPECT_TRUE(table.overlapBegin(Interval(at(12, 5, 0), at(12, 15, 0))).equals(at(12, 5, 0)));
    // At the end of the first section, and in the gap after the second.
    EXPECT_TRUE(table.overlapBegin(Interval(at(10, 30, 0), at(10, 40, 0))).equals(at(10, 20, 0)));
    EXPECT_TRUE(table.overlapBegin(Interval(at(11, 30, 0), at(12, 30, 0))).equals(at(11, 30, 0)));
    // A section whose clock went back before everything recorded so far.
    table.mergeAll({slice(1, at(10, 0, 0), at(10, 30, 0)), slice(2, at(9, 0, 0), at(9, 20, 0))});
    EXPECT_TRUE(table.overlapBegin(Interval(at(10, 30, 0), at(10, 40, 0))).equals(at(9, 0, 0)));
}

namespace {

class EventLog : public EventListener {
public:
    void eventOccurred(const ArchivingEvent& event) override { events.push_back(event); }
    std::vector<ArchivingEvent> events;
};

ArchivingEvent event(int type, int value, const UniqueID& site, const std::string& text = {}) {
    ArchivingEvent e;
    e.key = 3;
    e.site = site;
    e.type = type;
    e.value = value;
    e.text = text;
    return e;
}

}  // namespace

TEST(ArchivingEvent, LogCodesByTypeAndDisconnectionReason) {
    EXPECT_EQ(ArchivingEvent::logCode(4, 0), SystemLogCode::NotEnoughSpace);
    EXPECT_EQ(ArchivingEvent::logCode(5, 0), SystemLogCode::StorageIOError);
    EXPECT_EQ(ArchivingEvent::logCode(7, 0), SystemLogCode::FailedToConnect);
    EXPECT_EQ(ArchivingEvent::logCode(1, 2), SystemLogCode::None);
    struct Case {
        int reason;
        int code;
    };
    for (Case c : {Case{110, 20}, Case{111, 21}, Case{303, 22}, Case{304, 19}, Case{306, 19}, Case{307, 22},
                   Case{308, 16}, Case{310, 16}, Case{311, 17}, Case{313, 18}, Case{301, 0}, Case{312, 0},
                   Case{109, 22}, Case{314, 22}}) {
        EXPECT_EQ(ArchivingEvent::logCode(ArchivingEvent::Disconnected, c.reason), c.code) << c.reason;
    }
}

TEST(EventManager, ListenersHearEveryEventAndTheLogGetsOnlyThoseWithACode) {
    TempDir dir;
    DataWarehouse::instance().open(dir.file("app.db"), 1000);
    ASSERT_TRUE(SystemLogger::instance().open());
    EventManager& manager = EventManager::instance();
    EventLog log;
    manager.addListener(&log);
    UniqueID site;

    manager.post(event(ArchivingEvent::NotEnoughSpace, 0, site));  // disabled: dropped
    EXPECT_TRUE(log.events.empty());

    manager.enable();
    manager.post(event(ArchivingEvent::Disconnected, 301, site));
    manager.post(event(ArchivingEvent::SpeedClassChanged, 0, site));
    manager.post(event(ArchivingEvent::Disconnected, 311, site));
    manager.post(event(ArchivingEvent::ConnectFailed, 0, site, "no route"));
    manager.post(event(ArchivingEvent::ConnectFailed, 0, site));
    manager.disable();
    manager.removeListener(&log);

    ASSERT_EQ(log.events.size(), 5u);
    EXPECT_EQ(log.events[0].value, 301);
    EXPECT_EQ(log.events[0].key, 3);
    std::vector<SystemLog> entries = SystemLogger::instance().entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].code(), SystemLogCode::PlaybackPermissionDenied);
    EXPECT_EQ(entries[0].level(), SystemLogLevel::Error);
    EXPECT_TRUE(entries[0].owner().equals(site));
    EXPECT_EQ(entries[1].code(), SystemLogCode::FailedToConnect);
    EXPECT_EQ(entries[1].message(), "no route");
    EXPECT_EQ(entries[2].message(), "");
    DataWarehouse::instance().close();
}
