#include <gtest/gtest.h>

#include <fstream>

#include "ScheduledSite.h"

// A station's full load: one hundred schedules, ten on each of ten recorders, archiving at
// once through the shared playback threads, each into a group of its own.

namespace {

SyntheticRecordingOptions smallSite(uint64_t seed) {
    SyntheticRecordingOptions o;
    o.seed = seed;
    o.videoChannels = 1;
    o.audioChannels = 1;
    o.framesPerSecond = 4;
    o.keyFrameInterval = 8;
    o.minFrameSize = 16;
    o.maxFrameSize = 64;
    o.minKeyFrameSize = 100;
    o.maxKeyFrameSize = 2000;
    o.audioFrameSize = 16;
    o.sliceCount = 2;
    o.sliceSeconds = fullSize() ? 600 : 40;
    o.gapSeconds = 20;
    o.clockBackSlice = -1;
    o.eventEverySeconds = 9;
    o.textInEverySeconds = 11;
    return o;
}

// The process's peak resident set, in KiB.
long peakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

}  // namespace

TEST(ArchivingScheduler, AHundredSchedulesOnTenRecordersArchiveAtOnceWithoutLosingAFrame) {
    constexpr int Recorders = 10;
    constexpr int PerRecorder = 10;
    // The clock stands still: every recording fits one chunk, and no reply or alive check
    // can come late on it however loaded the machine is.
    ManualClock clock(DateTime(2026, 6, 1, 12, 0, 0));
    TempDir dir;
    std::vector<std::unique_ptr<SimRecorder>> recorders;
    for (int r = 0; r < Recorders; ++r) {
        recorders.push_back(std::make_unique<SimRecorder>(configFor(smallSite(100 + r))));
    }
    ScheduleLog log;
    ArchivingScheduler& scheduler = ArchivingScheduler::instance();
    scheduler.initialise(&log, 600);
    struct ShutDown {
        ~ShutDown() { ArchivingScheduler::instance().shutdown(); }
    } shutDownInAnyCase;
    struct Site {
        UniqueID id;
        std::string groupPath;
        int recorder = 0;
        int key = -1;
    };
    std::vector<Site> sites(Recorders * PerRecorder);
    for (size_t i = 0; i < sites.size(); ++i) {
        Site& site = sites[i];
        site.recorder = static_cast<int>(i) % Recorders;
        site.groupPath = makeGroupOnDisk(dir, site.id, 1, fullSize() ? 200 : 40, "site " + std::to_string(i), 16384);
        ConnectionSettings settings;
        settings.address = recorders[site.recorder]->sim.host();
        settings.port = recorders[site.recorder]->sim.port();
        settings.user = "admin";
        settings.password = "admin";
        site.key = scheduler.createSchedule(site.id, settings, false);
        ASSERT_TRUE(scheduler.context(site.key)->load(site.groupPath));
    }
    for (const Site& site : sites) scheduler.start(site.key, true);

    // With the clock standing still nothing is ever rolled back, so a schedule is done when
    // it has written as many frames as its recording holds.
    std::vector<size_t> frameCounts;
    for (const auto& recorder : recorders) {
        frameCounts.push_back(
            expectedFromFirstKey(recorder->service.recording().cursorAtFirst(BitMask32(0xFFFFFFFFu))).size());
    }
    auto caughtUp = [&](const Site& site) {
        return scheduler.schedule(site.key)->archivedFrames() >= frameCounts[static_cast<size_t>(site.recorder)];
    };
    bool done = log.waitFor(
        [&](ScheduleLog&) {
            for (const Site& site : sites)
                if (!caughtUp(site)) return false;
            return true;
        },
        fullSize() ? 1800 : 300);
    size_t behind = 0;
    for (const Site& site : sites) behind += caughtUp(site) ? 0 : 1;
    ASSERT_TRUE(done) << behind << " schedules behind";
    uint64_t written = 0;
    for (const Site& site : sites) {
        written += scheduler.schedule(site.key)->archivedFrames();
        EXPECT_EQ(log.counts(site.key).failed, 0) << "schedule " << site.key;
        scheduler.stop(site.key);
    }
    EXPECT_TRUE(log.waitFor([&](ScheduleLog& l) {
        for (const Site& site : sites)
            if (l.counts(site.key).stopped == 0) return false;
        return true;
    }));
    scheduler.shutdown();
    printf("100 schedules archived %llu frames; peak resident size %ld MiB\n",
           static_cast<unsigned long long>(written), peakResidentKiB() / 1024);

    for (const Site& site : sites) {
        const SyntheticRecording& recording = recorders[site.recorder]->service.recording();
        std::vector<FrameKey> expected = expectedFromFirstKey(recording.cursorAtFirst(BitMask32(0xFFFFFFFFu)));
        StorageGroupContext reader(site.id);
        reader.setReadOnly(true);
        ASSERT_TRUE(reader.load(site.groupPath));
        ArchiveContents archive = readGroup(reader.group(), recording);
        reader.unload();
        EXPECT_EQ(archive.badPayloads, 0u);
        ASSERT_TRUE(archive.frames == expected) << "schedule " << site.key << ": " << archive.firstDifference(expected);
    }
}
