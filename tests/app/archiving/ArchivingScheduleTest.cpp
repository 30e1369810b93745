#include <gtest/gtest.h>

#include "ScheduledSite.h"

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
    // Two hours of recorded time with QUILLFEN_LONG_TESTS, eight minutes otherwise; chunks of
    // 97 s so that their boundaries fall inside seconds all along. The archive fills the
    // first storage and goes on in the second.
    int sliceSeconds = longTests() ? 2400 : 160;
    SyntheticRecordingOptions options = surveillance(3, sliceSeconds);
    ScheduledSite site(configFor(options), 2, longTests() ? 7000 : 420, {}, 97);
    ASSERT_TRUE(site.loaded);
    ClockPump pump(site.clock);
    std::vector<FrameKey> expected = expectedFromFirstKey(site.recording().cursorAtFirst(BitMask32(0xFFFFFFFFu)));
    ArchivingScheduler::instance().start(site.key, true);
    ASSERT_TRUE(site.waitArchived(expected.size(), longTests() ? 1200 : 60))
        << site.describe() << " of " << expected.size();
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
