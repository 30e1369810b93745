#include <gtest/gtest.h>

#include "ScheduledSite.h"

// A schedule's own rules, driven by hand without a recorder: what it is told by its client
// is called directly, its actor is ticked directly, and the clock is moved by the test.

namespace {

// A schedule on a fresh group of one storage, its actor started, on a manual clock.
struct HandDriven {
    HandDriven() : clock(DateTime(2026, 6, 1, 12, 0, 0)), schedule(7, site, ConnectionSettings(), 600) {
        groupPath = makeGroupOnDisk(dir, site, 1, 16);
        EXPECT_TRUE(schedule.context().load(groupPath));
        schedule.addListener(&log);
        schedule.start();
    }
    // A frame (video unless told) at `t` seconds into the recording was archived.
    void archived(int t, uint64_t mediaID, uint16_t mediaType = 0) {
        MediaFrame frame;
        frame.mediaType = mediaType;
        frame.time = recordingStart.plusSeconds(t);
        schedule.frameArchived(frame, mediaID, MediaPosition{1, static_cast<uint32_t>(t + 1), 0});
    }
    int flushedAt() {
        LastVideoRecord record = schedule.flushedRecord();
        return record.isValid() ? record.time.secondsSince(recordingStart) : -1;
    }
    ManualClock clock;
    TempDir dir;
    UniqueID site;
    std::string groupPath;
    DateTime recordingStart = DateTime(2009, 3, 1, 10, 0, 0);
    ScheduleLog log;
    ArchivingSchedule schedule;
};

// Counts the time-table requests a schedule makes (each command that asks tells its
// listeners first).
struct RequestLog : ScheduleListener {
    void scheduleRequesting(int) override { ++requests; }
    std::atomic<int> requests{0};
};

}  // namespace

TEST(ArchivingScheduleRules, TheFirstFlushFollowsTheFirstFrameAndLaterOnesEvery301ArchivedSeconds) {
    HandDriven s;
    s.schedule.onIdle();
    EXPECT_EQ(s.flushedAt(), -1) << "nothing archived, nothing flushed";
    s.archived(0, 1);
    s.schedule.onIdle();
    EXPECT_EQ(s.flushedAt(), 0);
    s.archived(100, 2);
    s.archived(300, 3);
    s.schedule.onIdle();
    EXPECT_EQ(s.flushedAt(), 0);
    s.archived(301, 4);
    s.schedule.onIdle();
    EXPECT_EQ(s.flushedAt(), 301);
    // The recorder's clock went back: the archived time restarts from there.
    s.archived(200, 5);
    s.schedule.onIdle();
    EXPECT_EQ(s.flushedAt(), 200);
    s.archived(400, 6);
    s.schedule.onIdle();
    EXPECT_EQ(s.flushedAt(), 200);
    s.archived(501, 7);
    s.schedule.onIdle();
    EXPECT_EQ(s.flushedAt(), 501);
    s.schedule.shutdown();
}

TEST(ArchivingScheduleRules, AudioFramesAreResumedAfterAndTextInEntriesAreNot) {
    HandDriven s;
    s.archived(0, 1, 3);
    s.schedule.onIdle();
    EXPECT_EQ(s.flushedAt(), -1) << "text-in is no place to resume from";
    // A recording of audio alone: its first frame is stored as the record at once.
    s.archived(1, 2, 1);
    EXPECT_EQ(s.flushedAt(), 1);
    EXPECT_EQ(s.schedule.flushedRecord().mediaID, 2u);
    s.archived(400, 3, 1);
    s.archived(400, 4, 3);
    s.schedule.onIdle();
    EXPECT_EQ(s.flushedAt(), 400);
    EXPECT_EQ(s.schedule.flushedRecord().mediaID, 3u);
    s.schedule.shutdown();
}

TEST(ArchivingScheduleRules, AChunkShorterThan30SecondsWaitsAndOneOf30ContinuesAtOnce) {
    for (int advanced : {29, 30}) {
        HandDriven s;
        RequestLog requests;
        s.schedule.addListener(&requests);
        s.schedule.startFromTime(s.recordingStart);
        s.archived(advanced, 1);
        s.schedule.playbackEnded(false);
        s.schedule.tick();
        if (advanced < ArchivingSchedule::ContinueSeconds) {
            EXPECT_EQ(requests.requests.load(), 0) << "a retry waits a second";
            s.clock.advanceSeconds(1);
            s.schedule.tick();
        }
        EXPECT_EQ(requests.requests.load(), 1) << advanced << " s";
        s.schedule.removeListener(&requests);
        s.schedule.shutdown();
    }
}

TEST(ArchivingScheduleRules, AStopRequestedWhileAPlaybackEndsIsNotUndoneByIt) {
    HandDriven s;
    RequestLog requests;
    s.schedule.addListener(&requests);
    s.schedule.startFromTime(s.recordingStart);
    s.archived(45, 1);
    s.schedule.stopSchedule();
    s.schedule.playbackEnded(false);  // arrives after the stop
    s.schedule.playbackAborted(ArchivingDelegate::NothingRecorded);
    s.schedule.tick();
    EXPECT_EQ(s.schedule.state(), ArchivingSchedule::Stopped);
    EXPECT_EQ(s.log.counts(7).stopped, 1);
    s.clock.advanceSeconds(3600);
    s.schedule.tick();
    EXPECT_EQ(requests.requests.load(), 0);
    s.schedule.removeListener(&requests);
    s.schedule.shutdown();
}
