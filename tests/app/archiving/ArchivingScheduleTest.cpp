#include <gtest/gtest.h>

#include "ScheduledSite.h"
#include "storage/MediaElement.h"
#include "storage/Recorder.h"

// Schedules run by the scheduler against the simulated recorder on loopback, on a manual
// clock, archiving into groups of storages on disk; the archive is read back through the
// group and compared with the recording frame for frame and byte for byte.

namespace {

// Four video channels and one audio channel at 25 fps, text-in and events, slices with
// gaps and the recorder's clock set back once inside the second slice. `slices` slices of
// `sliceSeconds`; small frames keep the archive small.
SyntheticRecordingOptions surveillance(int slices, int sliceSeconds, uint64_t seed = 21) {
    SyntheticRecordingOptions o;
    o.seed = seed;
    o.videoChannels = 4;
    o.audioChannels = 1;
    o.framesPerSecond = 25;
    o.keyFrameInterval = 25;
    o.minFrameSize = 16;
    o.maxFrameSize = 48;
    o.minKeyFrameSize = 64;
    o.maxKeyFrameSize = 400;
    o.audioFrameSize = 16;
    o.sliceCount = slices;
    o.sliceSeconds = sliceSeconds;
    o.gapSeconds = 97;
    o.clockBackSlice = slices > 1 ? 1 : -1;
    o.clockBackAfterSeconds = sliceSeconds / 2;
    o.clockBackSeconds = sliceSeconds / 3;
    o.eventEverySeconds = 7;
    o.textInEverySeconds = 11;
    return o;
}

}  // namespace

TEST(ArchivingSchedule, FromFirstIntoAGroupOfTwoStoragesArchivesEveryFrameOnceWithItsEvents) {
    // Two hours of recorded time with QUILLFEN_ARCHIVE_FULL, eight minutes otherwise; chunks of
    // 97 s so that their boundaries fall inside seconds all along. The archive fills the
    // first storage and goes on in the second.
    int sliceSeconds = fullSize() ? 2400 : 160;
    SyntheticRecordingOptions options = surveillance(3, sliceSeconds);
    ScheduledSite site(configFor(options), 2, fullSize() ? 7000 : 420, {}, 97);
    ASSERT_TRUE(site.loaded);
    ClockPump pump(site.clock, 1, 50);
    std::vector<FrameKey> expected = expectedFromFirstKey(site.recording().cursorAtFirst(BitMask32(0xFFFFFFFFu)));
    ArchivingScheduler::instance().start(site.key, true);
    ASSERT_TRUE(site.waitCaughtUp(fullSize() ? 3600 : 240)) << site.describe() << " of " << expected.size();
    Interval interval;
    size_t storages = 0;
    ArchiveContents archive = site.finish(&interval, &storages);
    EXPECT_EQ(storages, 2u);

    EXPECT_EQ(archive.badPayloads, 0u);
    ASSERT_EQ(archive.frames.size(), expected.size()) << archive.firstDifference(expected);
    EXPECT_TRUE(archive.frames == expected) << archive.firstDifference(expected);
    EXPECT_GT(checkEventsOnTheirFrames(site.recording(), archive), 40u);
    size_t textIns = 0;
    for (const FrameKey& key : archive.frames) textIns += key.mediaType == TimelineLinkedElement::TextIn ? 1 : 0;
    EXPECT_GT(textIns, 30u);
    Interval recorded = site.recording().recordingInterval();
    EXPECT_TRUE(interval.from().equals(recorded.from())) << textOf(interval) << " vs " << textOf(recorded);
    EXPECT_TRUE(interval.to().equals(recorded.to())) << textOf(interval) << " vs " << textOf(recorded);
    EXPECT_TRUE(site.log.events(ArchivingEvent::Disconnected).empty());
    printf("archived %zu frames of %llu recorded seconds\n", archive.frames.size(),
           static_cast<unsigned long long>(site.recording().recordedSeconds()));
}

TEST(ArchivingSchedule, StartFromLastArchivesNothingRecordedBeforeTheStart) {
    SyntheticRecordingOptions options = surveillance(2, 60);
    ScheduledSite site(configFor(options), 1, 200);
    ASSERT_TRUE(site.loaded);
    ClockPump pump(site.clock);
    ArchivingScheduler::instance().start(site.key, false);
    ASSERT_TRUE(site.waitCaughtUp(60)) << site.describe();
    ArchiveContents archive = site.finish();
    // The recording ends with its last second: what is archived lies there.
    int64_t end = site.recording().recordingInterval().to().toEpochSeconds();
    ASSERT_FALSE(archive.frames.empty());
    EXPECT_LT(archive.frames.size(), 200u);
    for (const FrameKey& key : archive.frames) EXPECT_EQ(key.time, end) << key.describe();
    EXPECT_EQ(archive.badPayloads, 0u);
}

TEST(ArchivingSchedule, StartFromATimeArchivesFromThatTimeOn) {
    SyntheticRecordingOptions options = surveillance(2, 90);
    options.keyFrameInterval = 50;  // key groups of two seconds: the start second begins inside one
    ScheduledSite site(configFor(options), 1, 300, {}, 37);
    ASSERT_TRUE(site.loaded);
    ClockPump pump(site.clock);
    DateTime from = options.start.plusSeconds(13);
    ArchivingScheduler::instance().startFromTime(site.key, from);
    ASSERT_TRUE(site.waitCaughtUp(60)) << site.describe();
    std::vector<FrameKey> expected = expectedFromFirstKey(site.recording().cursorAtTime(from, BitMask32(0xFFFFFFFFu)));
    ArchiveContents archive = site.finish();
    EXPECT_EQ(archive.badPayloads, 0u);
    ASSERT_EQ(archive.frames.size(), expected.size()) << archive.firstDifference(expected);
    EXPECT_TRUE(archive.frames == expected) << archive.firstDifference(expected);
    for (const FrameKey& key : archive.frames) ASSERT_GE(key.time, from.toEpochSeconds()) << key.describe();
}

TEST(ArchivingSchedule, ARecordingOfAudioAloneIsArchivedFromFirstAndResumedAfterAStop) {
    SyntheticRecordingOptions options = surveillance(2, 150);
    options.videoChannels = 0;
    options.audioChannels = 2;
    options.eventEverySeconds = 0;
    options.textInEverySeconds = 0;
    options.clockBackSlice = -1;
    ScheduledSite site(configFor(options), 1, 300, {}, 37);
    ASSERT_TRUE(site.loaded);
    ClockPump pump(site.clock);
    std::vector<FrameKey> expected = expectedFromFirstKey(site.recording().cursorAtFirst(BitMask32(0xFFFFFFFFu)));
    ASSERT_EQ(expected.size(), 2u * 25u * 300u) << "every audio frame, none waiting for a key frame";
    ArchivingScheduler::instance().start(site.key, true);
    // Stopped part way, then started again: it goes on after the frame its record names.
    ASSERT_TRUE(site.waitArchived(3000, 60)) << site.describe();
    ASSERT_TRUE(site.stop()) << site.describe();
    site.resume();
    ASSERT_TRUE(site.waitCaughtUp(60)) << site.describe();
    // Every frame is in the timeline once; the recording table stays empty (only video
    // makes sections), so the group's reader does not reach them yet.
    ArchiveContents archive = site.finishReadingTimelines();
    EXPECT_EQ(archive.badPayloads, 0u);
    ASSERT_EQ(archive.frames.size(), expected.size()) << archive.firstDifference(expected);
    EXPECT_TRUE(archive.frames == expected) << archive.firstDifference(expected);
}

TEST(ArchivingSchedule, ANewStartPointKeepsTheEarlierArchiveUpToItsResumeRecordAndDropsWhatFollowsIt) {
    SyntheticRecordingOptions options = surveillance(2, 60);
    ScheduledSite site(configFor(options), 1, 400, {}, 37);
    ASSERT_TRUE(site.loaded);
    ClockPump pump(site.clock);
    ArchivingScheduler::instance().start(site.key, true);
    ASSERT_TRUE(site.waitCaughtUp(60)) << site.describe();
    ArchiveContents earlier = site.finish();
    ASSERT_FALSE(earlier.frames.empty());

    // What a run killed after its last resume record would leave: frames after it.
    {
        StorageGroupContext context(site.site);
        ASSERT_TRUE(context.load(site.groupPath));
        Recorder recorder;
        recorder.attach(&context.group(), 0, false);
        std::vector<uint8_t> payload(40, 0x5A);
        DateTime after = site.recording().recordingInterval().to().plusSeconds(5);
        for (int i = 0; i < 30; ++i) {
            MediaElement frame;
            frame.setMediaType(TimelineLinkedElement::Video);
            frame.setChannelMask(BitMask32(1));
            frame.setTime(after.plusSeconds(i / 4));
            frame.setDataLength(static_cast<uint32_t>(payload.size()));
            frame.setPayload(payload.data());
            recorder.write(frame);
        }
        recorder.detach();
        context.unload();
    }

    ArchivingScheduler::instance().initialise(&site.log, 37);
    site.key = ArchivingScheduler::instance().createSchedule(site.site, site.settings(), false);
    ASSERT_TRUE(ArchivingScheduler::instance().context(site.key)->load(site.groupPath));
    DateTime from = options.start.plusSeconds(20);
    ArchivingScheduler::instance().startFromTime(site.key, from);
    ASSERT_TRUE(site.waitCaughtUp(60)) << site.describe();
    ArchiveContents archive = site.finish();

    // The earlier archive up to the frame of its resume record, its last video or audio
    // frame: text-in that followed it goes with the roll back.
    std::vector<FrameKey> expected = earlier.frames;
    while (!expected.empty() && expected.back().mediaType > 1) expected.pop_back();
    std::vector<FrameKey> again = expectedFromFirstKey(site.recording().cursorAtTime(from, BitMask32(0xFFFFFFFFu)));
    expected.insert(expected.end(), again.begin(), again.end());
    EXPECT_EQ(archive.badPayloads, 0u);
    ASSERT_EQ(archive.frames.size(), expected.size()) << archive.firstDifference(expected);
    EXPECT_TRUE(archive.frames == expected) << archive.firstDifference(expected);
}

TEST(ArchivingScheduler, SchedulesAreCreatedStoppedDeletedAndShutDownMoreThanOnceInAProcess) {
    ManualClock clock(DateTime(2026, 6, 1, 12, 0, 0));
    TempDir dir;
    SimRecorder recorder(configFor(surveillance(1, 30)));
    ScheduleLog log;
    ArchivingScheduler& scheduler = ArchivingScheduler::instance();
    ConnectionSettings settings;
    settings.address = recorder.sim.host();
    settings.port = recorder.sim.port();
    settings.user = "admin";
    settings.password = "admin";
    int previous = -1;
    for (int round = 0; round < 2; ++round) {
        UniqueID site;
        std::string groupPath = makeGroupOnDisk(dir, site, 1, 64, "site " + std::to_string(round));
        scheduler.initialise(&log, 600);
        int key = scheduler.createSchedule(site, settings, false);
        int other = scheduler.createSchedule(UniqueID(), settings, true);
        EXPECT_GT(key, previous);
        EXPECT_EQ(other, key + 1);
        previous = other;
        ASSERT_NE(scheduler.context(key), nullptr);
        ASSERT_TRUE(scheduler.context(key)->load(groupPath));
        EXPECT_EQ(scheduler.capacity(key), 8192u + 64u * 65536u);
        EXPECT_GT(scheduler.usedBytes(key), 0u);
        EXPECT_FALSE(scheduler.recordingInterval(key).from().isValid());
        EXPECT_EQ(scheduler.speedClass(key), 3);

        // The time table answered to a caller that waits for it, connecting first.
        std::vector<RecordedSlice> table;
        Interval all(DateTime(2000, 1, 1, 0, 0, 0), DateTime(2030, 1, 1, 0, 0, 0));
        ASSERT_TRUE(scheduler.queryTimeTable(key, all, table));
        ASSERT_EQ(table.size(), 1u);
        EXPECT_TRUE(table[0].interval.from().equals(recorder.service.recording().recordingInterval().from()));

        // A schedule stopped while its group is open.
        scheduler.start(key, true);
        ASSERT_TRUE(log.waitFor([&](ScheduleLog& l) { return l.counts(key).archiving > 0; }, 30));
        scheduler.stop(key);
        ASSERT_TRUE(log.waitFor([&](ScheduleLog& l) { return l.counts(key).stopped > 0; }, 30));
        EXPECT_EQ(log.counts(key).failed, 0);

        EXPECT_TRUE(scheduler.deleteSchedule(other));
        EXPECT_FALSE(scheduler.deleteSchedule(other));
        EXPECT_EQ(scheduler.context(other), nullptr);
        EXPECT_EQ(scheduler.capacity(other), 0u);
        scheduler.stop(other);  // unknown keys do nothing
        EXPECT_EQ(scheduler.keys(), std::vector<int>{key});
        scheduler.shutdown();
        EXPECT_TRUE(scheduler.keys().empty());
        EXPECT_FALSE(scheduler.isInitialised());
        // The group file is released: it can be loaded again.
        StorageGroupContext again(site);
        EXPECT_TRUE(again.load(groupPath));
        again.unload();
    }
}
