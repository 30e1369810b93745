#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "ChildProcess.h"
#include "ScheduledSite.h"

// The archiving process killed with SIGKILL at random moments and started again on the
// same group each time: the storages are corrected when they are opened, the schedule
// resumes from the resume record it finds there, and at the end the archive holds what an
// uninterrupted run would have made of the recording, nothing lost and nothing twice.
//
// Everything that runs threads runs in child processes (the recorder in one, each run of
// the scheduler in another), so the test process is single-threaded whenever it forks.

namespace {

// One video and one audio channel at 4 fps in three slices of 900 s, the clock set back
// once: about 22000 frames, and 301 archived seconds (a flush) every 2400 frames, so
// that a run of a second or two makes progress that survives the kill.
SyntheticRecordingOptions crashRecording() {
    SyntheticRecordingOptions o;
    o.seed = 17;
    o.videoChannels = 1;
    o.audioChannels = 1;
    o.framesPerSecond = 4;
    o.keyFrameInterval = 8;
    o.minFrameSize = 16;
    o.maxFrameSize = 64;
    o.minKeyFrameSize = 100;
    o.maxKeyFrameSize = 600;
    o.audioFrameSize = 16;
    o.sliceCount = 3;
    o.sliceSeconds = 900;
    o.gapSeconds = 60;
    o.clockBackSlice = 1;
    o.clockBackAfterSeconds = 300;
    o.clockBackSeconds = 120;
    o.eventEverySeconds = 13;
    o.textInEverySeconds = 17;
    return o;
}

bool exists(const std::string& path) {
    return std::filesystem::exists(path);
}

void touch(const std::string& path) {
    std::ofstream(path) << "1";
}

// The recorder in a child of its own: serves until killed. Its port is written to
// `portFile` once it listens.
int serveRecorder(const std::string& portFile) {
    SimRecorder recorder(configFor(crashRecording()));
    std::ofstream(portFile + ".tmp") << recorder.sim.port();
    std::filesystem::rename(portFile + ".tmp", portFile);
    ChildProcess::hold(1);
    return 0;
}

// One run of the archiving process: resumes the schedule from its resume record (or
// starts from the first frame when the group has none, as the station does while a new
// start point is pending), touches `archivingFile` once it archived a frame and
// `flushedFile` once a resume record is on its way to the storage, notes in `startsFile`
// how it started, and archives until the end of the recording;
// then stops, shuts down and touches `doneFile`.
int archive(const std::string& groupPath, const UniqueID& site, uint16_t port, const std::string& archivingFile,
            const std::string& flushedFile, const std::string& startsFile, const std::string& doneFile) {
    ManualClock clock(DateTime(2026, 6, 1, 12, 0, 0));
    ClockPump pump(clock);
    ArchivingScheduler& scheduler = ArchivingScheduler::instance();
    scheduler.initialise(nullptr, 97);
    ConnectionSettings settings;
    settings.address = "127.0.0.1";
    settings.port = port;
    settings.user = "admin";
    settings.password = "admin";
    int key = scheduler.createSchedule(site, settings, false);
    if (!scheduler.context(key)->load(groupPath)) {
        return 2;
    }
    std::shared_ptr<ArchivingSchedule> schedule = scheduler.schedule(key);
    bool resumes = schedule->flushedRecord().isValid();
    std::ofstream(startsFile, std::ios::app) << (resumes ? "resume" : "first") << std::endl;
    if (resumes) {
        scheduler.resume(key);
    } else {
        scheduler.start(key, true);
    }
    SyntheticRecording recording(crashRecording());
    DateTime end = recording.recordingInterval().to();
    uint64_t seen = ~uint64_t(0);
    auto stableSince = std::chrono::steady_clock::now();
    auto deadline = stableSince + std::chrono::seconds(180);
    bool archiving = false;
    bool flushed = false;
    while (std::chrono::steady_clock::now() < deadline) {
        // Quick looks until the first flush, so that a kill can land before it.
        std::this_thread::sleep_for(std::chrono::milliseconds(flushed ? 20 : 1));
        if (!archiving && schedule->archivedFrames() > 0) {
            archiving = true;
            touch(archivingFile);
        }
        if (!flushed && schedule->flushedRecord().isValid()) {
            flushed = true;
            if (!exists(flushedFile)) touch(flushedFile);
        }
        if (!schedule->lastTime().equals(end)) continue;
        if (schedule->archivedFrames() != seen) {
            seen = schedule->archivedFrames();
            stableSince = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - stableSince > std::chrono::seconds(1)) {
            scheduler.stop(key);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            scheduler.shutdown();
            touch(doneFile);
            return 0;
        }
    }
    return 3;
}

int killCount() {
    const char* value = std::getenv("QUILLFEN_ARCHIVE_KILLS");
    return value != nullptr ? std::max(1, std::atoi(value)) : (fullSize() ? 100 : 20);
}

// Kills that land within moments of a run's first archived frame: on the fresh group
// around its first resume record, later just after a resume, where a roll back reaches
// into the storage's first recording-table record. Four by default, before the others;
// QUILLFEN_ARCHIVE_EARLY_KILLS sets another count.
int earlyKillCount() {
    const char* value = std::getenv("QUILLFEN_ARCHIVE_EARLY_KILLS");
    return value != nullptr ? std::max(0, std::atoi(value)) : 4;
}

}  // namespace

TEST(ArchivingCrash, AnArchivingProcessKilledAtRandomMomentsEndsWithTheUninterruptedArchive) {
    TempDir dir;
    UniqueID site;
    std::string groupPath = makeGroupOnDisk(dir, site, 2, 300, "site", 16384);
    std::string portFile = dir.file("port");
    std::string flushedFile = dir.file("flushed");
    std::string archivingFile = dir.file("archiving");
    std::string startsFile = dir.file("starts");
    std::string doneFile = dir.file("done");

    ChildProcess recorder([&] { return serveRecorder(portFile); });
    ASSERT_EQ(recorder.waitForReport(std::chrono::seconds(20)), 1);
    uint16_t port = 0;
    std::ifstream(portFile) >> port;
    ASSERT_NE(port, 0);

    std::mt19937 random(4711);
    std::uniform_int_distribution<int> moment(100, 1200);
    std::uniform_int_distribution<int> earlyMoment(0, 300);
    const int earlyKills = earlyKillCount();
    const int kills = earlyKills + killCount();
    int killed = 0;
    int runs = 0;
    while (!exists(doneFile) && runs < kills + 20) {
        ++runs;
        std::filesystem::remove(archivingFile);
        ChildProcess run([&] { return archive(groupPath, site, port, archivingFile, flushedFile, startsFile, doneFile); });
        if (killed < earlyKills) {
            // Frames have joined pages, the resume record may not exist yet.
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!exists(archivingFile) && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(earlyMoment(random)));
            if (!exists(doneFile)) {
                run.kill();
                ++killed;
                continue;
            }
        } else if (killed < kills) {
            // Later kills at random moments once a resume record exists.
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!exists(flushedFile) && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
            if (!exists(doneFile)) {
                run.kill();
                ++killed;
                continue;
            }
        }
        EXPECT_EQ(run.wait(std::chrono::seconds(240)), 0) << "run " << runs;
    }
    recorder.kill();
    // Every run after the first that found no resume record followed a kill before one was stored.
    int freshRestarts = 0;
    std::ifstream starts(startsFile);
    for (std::string line; std::getline(starts, line);) {
        freshRestarts += line == "first" ? 1 : 0;
    }
    freshRestarts = std::max(0, freshRestarts - 1);
    printf("archiving process killed %d times in %d runs (%d within moments of the run's first frame), %d restarts "
           "from the first frame after a kill before the first resume record\n",
           killed, runs, earlyKills, freshRestarts);
    ASSERT_TRUE(exists(doneFile));
    EXPECT_GE(killed, std::min(kills, 20));

    SyntheticRecording recording(crashRecording());
    std::vector<FrameKey> expected = expectedFromFirstKey(recording.cursorAtFirst(BitMask32(0xFFFFFFFFu)));
    StorageGroupContext reader(site);
    reader.setReadOnly(true);
    ASSERT_TRUE(reader.load(groupPath));
    ArchiveContents archive = readGroup(reader.group(), recording);
    reader.unload();
    EXPECT_EQ(archive.badPayloads, 0u);
    ASSERT_EQ(archive.frames.size(), expected.size()) << archive.firstDifference(expected);
    EXPECT_TRUE(archive.frames == expected) << archive.firstDifference(expected);
    checkEventsOnTheirFrames(recording, archive);
}
