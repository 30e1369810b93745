#include <gtest/gtest.h>

#include "ScheduledSite.h"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "network/protocol/SessionAliveChecker.h"
#include "network/session/DisconnectReason.h"

// A schedule against a recorder that misbehaves: lost connections are reconnected with a
// growing delay and archiving resumes at the last flushed frame, so that the archive ends
// up as an uninterrupted run would have made it; other failures end the schedule with
// their event and log entry, and a full group stops it without harming what it holds.

namespace {

// One video channel and one audio channel at 25 fps, three slices of 200 s with the clock
// set back inside the second: about 31000 frames, so that a flush (every 301 s of
// archived time) falls well inside what one connection streams.
SyntheticRecordingOptions faultRecording() {
    SyntheticRecordingOptions o;
    o.seed = 5;
    o.videoChannels = 1;
    o.audioChannels = 1;
    o.framesPerSecond = 25;
    o.keyFrameInterval = 25;
    o.minFrameSize = 16;
    o.maxFrameSize = 48;
    o.minKeyFrameSize = 64;
    o.maxKeyFrameSize = 400;
    o.audioFrameSize = 16;
    o.sliceCount = 3;
    o.sliceSeconds = 200;
    o.gapSeconds = 50;
    o.clockBackSlice = 1;
    o.clockBackAfterSeconds = 100;
    o.clockBackSeconds = 40;
    o.eventEverySeconds = 9;
    o.textInEverySeconds = 13;
    return o;
}

std::vector<FrameKey> everything(ScheduledSite& site) {
    return expectedFromFirstKey(site.recording().cursorAtFirst(BitMask32(0xFFFFFFFFu)));
}

// A loopback port that takes connections (the kernel completes them) and never reads.
struct SilentListener {
    SilentListener() {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 64) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "no listener";
        }
        port = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(fd); }
    int fd = -1;
    uint16_t port = 0;
};

// Runs the schedule to the end of the recording, resuming it (as the user would) each time
// it ended with a failure. The number of resumes.
int runResumingAfterFailures(ScheduledSite& site, int limit = 10) {
    int resumes = 0;
    while (!site.waitCaughtUp(2)) {
        ScheduleLog::Counts c = site.log.counts(site.key);
        if (c.failed > resumes && site.schedule()->state() == ArchivingSchedule::Stopped) {
            if (++resumes > limit) break;
            site.resume();
        }
    }
    return resumes;
}

void expectUninterruptedArchive(ScheduledSite& site) {
    std::vector<FrameKey> expected = everything(site);
    ArchiveContents archive = site.finish();
    EXPECT_EQ(archive.badPayloads, 0u);
    ASSERT_EQ(archive.frames.size(), expected.size()) << archive.firstDifference(expected);
    EXPECT_TRUE(archive.frames == expected) << archive.firstDifference(expected);
    checkEventsOnTheirFrames(site.recording(), archive);
}

}  // namespace

TEST(ArchivingScheduleFaults, AStalledRecorderIsDroppedWith312AndArchivingResumesAtTheLastFlushedFrame) {
    FastAliveChecks fastChecks;
    PlaybackServiceConfig config = configFor(faultRecording());
    // Every connection stalls after 24000 frames (some 540 s of recording). The flushes
    // come where 301 s of archived time have passed and where the clock went back (frames
    // 12550 and 15000 or so); the stall lies far enough after both that a flush running a
    // round late still leaves frames to roll back.
    config.stallAfterFrames = 24000;
    ScheduledSite site(config, 2, 160);
    ASSERT_TRUE(site.loaded);
    ClockPump pump(site.clock, 1, 20);  // the dead time of 240 s passes in five seconds
    ArchivingScheduler::instance().start(site.key, true);
    ASSERT_TRUE(site.waitCaughtUp(180)) << site.describe();

    ScheduleLog::Counts c = site.log.counts(site.key);
    EXPECT_EQ(c.failed, 0);
    EXPECT_GE(std::count(c.disconnects.begin(), c.disconnects.end(), DisconnectReason::NoAliveAnswer), 1)
        << site.describe();
    // More frames were written than the archive keeps: the roll back took back what had
    // not been flushed when the connection was lost.
    EXPECT_GT(site.archived(), everything(site).size()) << site.describe();
    EXPECT_TRUE(site.log.events(ArchivingEvent::Disconnected).empty());
    EXPECT_TRUE(site.logCodes().empty());
    expectUninterruptedArchive(site);
}

TEST(ArchivingScheduleFaults, ReconnectionWaitsGrowFromOneSecondAndLostConnectionsPostNothing) {
    // A recorder that takes the connection and never answers the handshake: each attempt
    // ends with 312 once the silence passes the (shortened) dead time.
    SessionAliveChecker::Timings timings;
    timings.idleMs = 1000;
    timings.deadMs = 2000;
    timings.roundMs = 5;
    SessionAliveChecker::setTimings(timings);
    SilentListener silent;
    ScheduledSite site(configFor(faultRecording()), 1, 64);
    ASSERT_TRUE(site.loaded);
    ConnectionSettings settings = site.settings();
    settings.port = silent.port;
    ArchivingScheduler::instance().updateSite(site.key, settings);
    ClockPump pump(site.clock, 1, 100);
    ArchivingScheduler::instance().start(site.key, true);
    bool waited =
        site.log.waitFor([&](ScheduleLog& l) { return l.counts(site.key).connectingAt.size() >= 8; }, 120);
    ScheduleLog::Counts c = site.log.counts(site.key);
    ArchivingScheduler::instance().shutdown();
    SessionAliveChecker::setTimings(SessionAliveChecker::Timings());
    ASSERT_TRUE(waited) << site.describe();

    // Each wait from a lost connection to the next attempt, on the clock: 1, 2, 4, ... s
    // (an action runs at the loop's next round: late by what the clock moved meanwhile).
    int expectedWait = 1;
    for (size_t i = 0; i + 1 < c.connectingAt.size() && i < c.disconnectedAt.size(); ++i) {
        int wait = c.connectingAt[i + 1].secondsSince(c.disconnectedAt[i]);
        EXPECT_GE(wait, expectedWait) << "wait " << i;
        EXPECT_LE(wait, expectedWait + 8) << "wait " << i;
        expectedWait *= 2;
    }
    EXPECT_GE(expectedWait, 128);
    for (int reason : c.disconnects) EXPECT_EQ(reason, DisconnectReason::NoAliveAnswer);
    EXPECT_EQ(c.failed, 0);
    EXPECT_TRUE(site.log.events(ArchivingEvent::Disconnected).empty());
    EXPECT_TRUE(site.logCodes().empty());
}

TEST(ArchivingScheduleFaults, ARefusedLoginOrConnectionEndsTheScheduleWithItsEventAndLogEntry) {
    RecorderSimConfig simConfig;
    simConfig.fault = RecorderSimConfig::Fault::RefuseLogin;
    ScheduledSite site(configFor(faultRecording()), 1, 64, simConfig);
    ASSERT_TRUE(site.loaded);
    ClockPump pump(site.clock);
    ArchivingScheduler::instance().start(site.key, true);
    ASSERT_TRUE(site.log.waitFor([&](ScheduleLog& l) { return l.counts(site.key).stopped > 0; })) << site.describe();
    std::vector<ArchivingEvent> events = site.log.events(ArchivingEvent::Disconnected);
    ASSERT_EQ(events.size(), 1u) << site.describe();
    EXPECT_GE(events[0].value, DisconnectReason::LoginRefused);
    EXPECT_LE(events[0].value, DisconnectReason::LoginRefusedCode4);
    EXPECT_EQ(site.log.counts(site.key).failed, 1);
    EXPECT_EQ(site.logCodes(), std::vector<int>{SystemLogCode::FailedToLogin});
    // Never restarted by itself, whatever time passes.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(site.log.counts(site.key).connecting, 1);

    // Nothing listens at the recorder's address any more.
    site.recorder.reset();
    site.resume();
    ASSERT_TRUE(site.log.waitFor([&](ScheduleLog& l) { return l.counts(site.key).failed == 2; })) << site.describe();
    events = site.log.events(ArchivingEvent::Disconnected);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].value, DisconnectReason::ConnectionRefused);
    EXPECT_EQ(site.logCodes(), (std::vector<int>{SystemLogCode::FailedToLogin, SystemLogCode::ConnectionRefused}));
}

TEST(ArchivingScheduleFaults, ConnectionsDroppedByTheRecorderEndTheRunAndAResumeCompletesTheArchive) {
    PlaybackServiceConfig config = configFor(faultRecording());
    config.disconnectAfterFrames = 18000;  // every connection is closed after 18000 frames
    ScheduledSite site(config, 2, 160);
    ASSERT_TRUE(site.loaded);
    ClockPump pump(site.clock);
    ArchivingScheduler::instance().start(site.key, true);
    int resumes = runResumingAfterFailures(site);
    ASSERT_TRUE(site.waitCaughtUp(5)) << site.describe();
    EXPECT_GE(resumes, 1);
    std::vector<ArchivingEvent> events = site.log.events(ArchivingEvent::Disconnected);
    ASSERT_EQ(events.size(), static_cast<size_t>(resumes)) << site.describe();
    std::vector<int> codes = site.logCodes();
    ASSERT_EQ(codes.size(), events.size());
    for (int code : codes) EXPECT_EQ(code, ArchivingEvent::logCode(ArchivingEvent::Disconnected, events[0].value));
    expectUninterruptedArchive(site);
}

TEST(ArchivingScheduleFaults, ARecorderThatRestartsMidStreamIsArchivedOnAfterwards) {
    ScheduledSite site(configFor(faultRecording()), 2, 160);
    ASSERT_TRUE(site.loaded);
    ClockPump pump(site.clock);
    ArchivingScheduler::instance().start(site.key, true);
    ASSERT_TRUE(site.waitArchived(12000)) << site.describe();
    site.restartRecorder();
    runResumingAfterFailures(site);
    ASSERT_TRUE(site.waitCaughtUp(5)) << site.describe();
    EXPECT_GE(site.log.counts(site.key).connected, 2) << site.describe();
    expectUninterruptedArchive(site);
}

TEST(ArchivingScheduleFaults, AFullGroupWithOverwriteOffStopsWithNotEnoughSpaceAndKeepsWhatItHolds) {
    ScheduledSite site(configFor(faultRecording()), 2, 40);
    ASSERT_TRUE(site.loaded);
    ClockPump pump(site.clock);
    ArchivingScheduler::instance().start(site.key, true);
    ASSERT_TRUE(site.log.waitFor([&](ScheduleLog& l) { return l.counts(site.key).stopped > 0; })) << site.describe();
    EXPECT_EQ(site.log.events(ArchivingEvent::NotEnoughSpace).size(), 1u);
    EXPECT_EQ(site.log.counts(site.key).failed, 0);
    EXPECT_EQ(site.logCodes(), std::vector<int>{SystemLogCode::NotEnoughSpace});

    std::vector<FrameKey> expected = everything(site);
    size_t storages = 0;
    ArchiveContents archive = site.finish(nullptr, &storages);
    EXPECT_EQ(storages, 2u);
    EXPECT_EQ(archive.badPayloads, 0u);
    ASSERT_GT(archive.frames.size(), 1000u);
    ASSERT_LT(archive.frames.size(), expected.size());
    expected.resize(archive.frames.size());
    EXPECT_TRUE(archive.frames == expected) << archive.firstDifference(expected);
}

TEST(ArchivingScheduleFaults, AFullGroupWithOverwriteOnGivesUpItsOldestSectionAndGoesOn) {
    ScheduledSite site(configFor(faultRecording()), 2, 40);
    ASSERT_TRUE(site.loaded);
    ArchivingScheduler::instance().setOverwrite(site.key, true);
    ClockPump pump(site.clock);
    ArchivingScheduler::instance().start(site.key, true);
    ASSERT_TRUE(site.waitCaughtUp()) << site.describe();
    EXPECT_TRUE(site.log.events(ArchivingEvent::NotEnoughSpace).empty());

    std::vector<FrameKey> expected = everything(site);
    ArchiveContents archive = site.finish();
    EXPECT_EQ(archive.badPayloads, 0u);
    ASSERT_GT(archive.frames.size(), 1000u);
    ASSERT_LT(archive.frames.size(), expected.size());
    // What is left is the end of the recording, every frame of it once.
    std::vector<FrameKey> tail(expected.end() - static_cast<long>(archive.frames.size()), expected.end());
    EXPECT_TRUE(archive.frames == tail) << archive.firstDifference(tail);
}
