#include <gtest/gtest.h>

#include <atomic>
#include <set>

#include "ArchiveReadBack.h"
#include "ChunkDriver.h"
#include "PlaybackTestSupport.h"
#include "network/playback/NetworkPlaybackClient.h"

// The archiving client against the simulated recorder on loopback, writing into one storage
// file: every frame the recording holds arrives in the archive once, in recording order,
// byte for byte, with its events, whatever the chunk boundaries, the recorder's clock and
// the interruptions.

namespace {

// 25 frames per second on two video channels and one audio channel, three slices of 40
// seconds with gaps, and the clock set back by 30 seconds 20 seconds into the second slice,
// so one stretch of time is recorded twice. Small frames keep the archive small.
SyntheticRecordingOptions recordingAt25() {
    SyntheticRecordingOptions o;
    o.seed = 11;
    o.videoChannels = 2;
    o.audioChannels = 1;
    o.framesPerSecond = 25;
    o.keyFrameInterval = 25;
    o.minFrameSize = 16;
    o.maxFrameSize = 64;
    o.minKeyFrameSize = 200;
    o.maxKeyFrameSize = 1200;
    o.audioFrameSize = 32;
    o.sliceCount = 3;
    o.sliceSeconds = 40;
    o.gapSeconds = 10;
    o.clockBackSlice = 1;
    o.clockBackAfterSeconds = 20;
    o.clockBackSeconds = 30;
    o.eventEverySeconds = 3;
    o.textInEverySeconds = 4;
    return o;
}

// A client logged in to the recorder and archiving into a fresh storage.
struct ArchivingRun {
    explicit ArchivingRun(const PlaybackServiceConfig& config, int chunkSeconds = 7, uint32_t pages = 512)
        : recorder(config), driver(client, chunkSeconds) {
        path = formattedRealStorage(dir, "archive.strg", pages);
        EXPECT_TRUE(storage.open(path.c_str()));
        client.attach(&storage, 0x80000, &driver);
    }
    ~ArchivingRun() {
        if (client.isConnected()) {
            client.disconnect();
            driver.waitFor([&] { return !driver.disconnects.empty(); }, 10);
        }
        client.cleanup();
    }
    bool login() {
        return client.connect(recorder.sim.host(), recorder.sim.port(), "admin", "admin") &&
               driver.waitFor([&] { return driver.connects > 0 || !driver.disconnects.empty(); }, 10) &&
               driver.read(driver.connects) > 0;
    }
    const SyntheticRecording& recording() { return recorder.service.recording(); }

    TempDir dir;
    std::string path;
    SimRecorder recorder;
    FixedSizeFileStorage storage;
    NetworkArchivingClient client;
    ChunkDriver driver;
};

// Every event of the recording on the archived frames' channels, by the archive media ID
// of its frame: each must be in the archive with that ID.
void expectEventsOnTheirFrames(ArchivingRun& run, const ArchiveContents& archive, const Interval& window) {
    // The archive media ID of each archived frame, by its stream and frame number.
    std::map<std::pair<uint32_t, uint64_t>, uint64_t> idOf;
    for (size_t i = 0; i < archive.frames.size(); ++i) {
        if (archive.frames[i].mediaType == 0) {
            idOf[{archive.frames[i].channelMask, archive.frames[i].number}] = archive.mediaIDs[i];
        }
    }
    ListPage<PlaybackEvent> all =
        run.recording().eventList(window, run.recording().channelMask(), 0, 1000000);
    size_t expected = 0;
    for (const PlaybackEvent& event : all.entries) {
        SyntheticFrame frame;
        ASSERT_TRUE(run.recording().frameAt(event.position, frame));
        auto it = idOf.find({frame.header.channelMask.value(), frame.header.param64});
        if (it == idOf.end()) continue;  // its frame is not archived
        ++expected;
        auto range = archive.events.equal_range(it->second);
        bool found = false;
        for (auto e = range.first; e != range.second; ++e) {
            found |= e->second.time().equals(event.time) && e->second.channelMask().value() == event.channels.value();
        }
        EXPECT_TRUE(found) << "event at " << textOf(event.time) << " not on its frame";
    }
    EXPECT_GT(expected, 10u);
    EXPECT_EQ(archive.events.size(), expected) << "events attached to frames they do not belong to";
}

}  // namespace

TEST(ArchivingClient, ChunksInsideSecondsAndAClockSetBackArchiveEveryFrameOnceInRecordingOrder) {
    ArchivingRun run(configFor(recordingAt25()));
    ASSERT_TRUE(run.login()) << run.driver.describe();
    run.driver.run(DateTime(1970, 1, 1, 0, 0, 0));
    ASSERT_TRUE(run.driver.waitDone()) << run.driver.describe();
    EXPECT_TRUE(run.driver.read(run.driver.aborts).empty()) << run.driver.describe();
    EXPECT_GT(run.driver.read(run.driver.chunks), 15);

    ArchiveContents archive = readArchive(run.storage, run.recording());
    std::vector<FrameKey> expected = expectedFrames(run.recording().cursorAtFirst(BitMask32(0xFFFFFFFFu)));
    EXPECT_EQ(archive.badPayloads, 0u);
    ASSERT_EQ(archive.frames.size(), expected.size()) << archive.firstDifference(expected);
    EXPECT_TRUE(archive.frames == expected) << archive.firstDifference(expected);
    expectEventsOnTheirFrames(run, archive, Interval());
    // The archive's sections follow the recorder's clock: one more where it went back.
    EXPECT_EQ(run.storage.recordingSections().size(), 2u);
}

TEST(ArchivingClient, RestartsFromFirstInTheMiddleKeepFramesWhoseKeyGroupIsArchived) {
    ArchivingRun run(configFor(recordingAt25()), 5);
    run.driver.laterStarts = ChunkDriver::Start::FromFirst;
    ASSERT_TRUE(run.login()) << run.driver.describe();
    run.driver.run(DateTime(1970, 1, 1, 0, 0, 0));
    ASSERT_TRUE(run.driver.waitDone()) << run.driver.describe();

    ArchiveContents archive = readArchive(run.storage, run.recording());
    std::vector<FrameKey> expected = expectedFrames(run.recording().cursorAtFirst(BitMask32(0xFFFFFFFFu)));
    EXPECT_EQ(archive.badPayloads, 0u);
    EXPECT_TRUE(archive.frames == expected) << archive.firstDifference(expected);
}

TEST(ArchivingClient, AStartFromATimeArchivesFromThatTimeAndAFromFirstStartDropsLeadingDependentFrames) {
    SyntheticRecordingOptions options = recordingAt25();
    options.clockBackSlice = -1;
    options.keyFrameInterval = 50;  // key groups of two seconds
    ArchivingRun run(configFor(options));
    ASSERT_TRUE(run.login()) << run.driver.describe();
    // 13 seconds into the first slice: the start second begins inside a key group.
    DateTime from = options.start.plusSeconds(13);
    run.driver.run(from);
    ASSERT_TRUE(run.driver.waitDone()) << run.driver.describe();

    ArchiveContents archive = readArchive(run.storage, run.recording());
    // From the start second on, without the frames before the first key frame of each
    // channel (audio and text-in wait for the first key frame too).
    std::vector<FrameKey> all =
        expectedFrames(run.recording().cursorAtTime(from, BitMask32(0xFFFFFFFFu)));
    std::vector<FrameKey> expected;
    bool keySeen = false;
    FrameCursor cursor = run.recording().cursorAtTime(from, BitMask32(0xFFFFFFFFu));
    SyntheticFrame frame;
    while (cursor.next(frame)) {
        if (!keySeen) {
            if (frame.mediaType != 0 || frame.dependent) continue;
            keySeen = true;
        }
        expected.push_back(keyOf(frame));
    }
    ASSERT_LT(expected.size(), all.size()) << "the start second must begin inside a key group";
    EXPECT_TRUE(archive.frames == expected) << archive.firstDifference(expected);
    for (const FrameKey& key : archive.frames) {
        ASSERT_GE(key.time, from.toEpochSeconds());
    }
}

// Flushes the record of the last video (or audio) frame after 1500 frames, loses the
// connection 700 frames later, rolls back to the record and resumes there.
void rollBackAndResume(bool atAudioFrame) {
    SCOPED_TRACE(atAudioFrame ? "resumed after an audio frame" : "resumed after a video frame");
    ArchivingRun run(configFor(recordingAt25()));
    ASSERT_TRUE(run.login()) << run.driver.describe();
    std::atomic<bool> flushed{false};
    std::atomic<bool> stopped{false};
    LastVideoRecord record;
    run.driver.setOnFrame([&](size_t count) {
        if (count >= 1500 && !flushed.load()) {
            record = run.driver.read(atAudioFrame ? run.driver.lastAudio : run.driver.lastVideo);
            run.client.flush(record, false);
            flushed = true;
        }
        if (count >= 2200 && !stopped.exchange(true)) {
            run.client.disconnect();  // as a lost connection
        }
    });
    run.driver.run(DateTime(1970, 1, 1, 0, 0, 0));
    ASSERT_TRUE(run.driver.waitDone()) << run.driver.describe();
    run.driver.setOnFrame(nullptr);
    ASSERT_TRUE(flushed.load());
    LastVideoRecord stored;
    ASSERT_TRUE(run.client.readLastVideo(stored));
    EXPECT_EQ(stored.mediaID, record.mediaID);
    EXPECT_EQ(stored.position, record.position);

    EXPECT_GE(run.driver.read(run.driver.archived), 2200u);
    EXPECT_LT(run.driver.read(run.driver.archived), 4000u);
    // Logged in again, rolled back, resumed.
    ASSERT_TRUE(run.client.connect(run.recorder.sim.host(), run.recorder.sim.port(), "admin", "admin"));
    ASSERT_TRUE(run.driver.waitFor([&] { return run.driver.connects == 2; })) << run.driver.describe();
    run.client.postRollback(stored);
    ASSERT_TRUE(run.driver.waitFor([&] { return run.driver.rollbacks == 1; })) << run.driver.describe();
    EXPECT_EQ(run.storage.nextItemID(), stored.mediaID + 1);
    run.driver.resumeFrom(stored);
    ASSERT_TRUE(run.driver.waitDone()) << run.driver.describe();
    EXPECT_TRUE(run.driver.read(run.driver.aborts).empty()) << run.driver.describe();

    ArchiveContents archive = readArchive(run.storage, run.recording());
    std::vector<FrameKey> expected = expectedFrames(run.recording().cursorAtFirst(BitMask32(0xFFFFFFFFu)));
    EXPECT_EQ(archive.badPayloads, 0u);
    EXPECT_TRUE(archive.frames == expected) << archive.firstDifference(expected);
    expectEventsOnTheirFrames(run, archive, Interval());
}

TEST(ArchivingClient, RollBackToAFlushedFrameAndResumeGivesTheUninterruptedArchive) {
    rollBackAndResume(false);
    rollBackAndResume(true);
}

TEST(ArchivingClient, AResumePositionTheRecorderOverwroteAbortsWithoutWriting) {
    PlaybackServiceConfig config = configFor(recordingAt25());
    config.positionsOverwritten = true;
    ArchivingRun run(config);
    ASSERT_TRUE(run.login()) << run.driver.describe();
    SyntheticFrame there;
    FrameCursor cursor = run.recording().cursorAtFirst(BitMask32(0x1));
    for (int i = 0; i < 30; ++i) cursor.next(there);
    LastVideoRecord record;
    record.position = there.position;
    record.sectionID = 1;
    record.time = there.header.time;
    record.mediaID = 30;
    run.driver.resumeFrom(record);
    ASSERT_TRUE(run.driver.waitDone()) << run.driver.describe();
    EXPECT_EQ(run.driver.read(run.driver.aborts), std::vector<int>{ArchivingDelegate::PositionOverwritten});
    EXPECT_EQ(run.driver.read(run.driver.archived), 0u);
    EXPECT_TRUE(timelineEntries(run.storage).empty());
}

TEST(ArchivingClient, AFullStorageWithOverwriteOffStopsWithNoSpaceAndKeepsWhatItHolds) {
    ArchivingRun run(configFor(recordingAt25()), 7, 24);
    ASSERT_TRUE(run.login()) << run.driver.describe();
    run.driver.run(DateTime(1970, 1, 1, 0, 0, 0));
    ASSERT_TRUE(run.driver.waitDone()) << run.driver.describe();
    EXPECT_EQ(run.driver.read(run.driver.aborts), std::vector<int>{ArchivingDelegate::NoSpace});

    ArchiveContents archive = readArchive(run.storage, run.recording());
    std::vector<FrameKey> expected = expectedFrames(run.recording().cursorAtFirst(BitMask32(0xFFFFFFFFu)));
    ASSERT_GT(archive.frames.size(), 100u);
    ASSERT_LT(archive.frames.size(), expected.size());
    EXPECT_EQ(archive.badPayloads, 0u);
    expected.resize(archive.frames.size());
    EXPECT_TRUE(archive.frames == expected) << archive.firstDifference(expected);
    EXPECT_EQ(archive.frames.size(), run.driver.read(run.driver.archived));
}

TEST(ArchivingClient, AFullStorageWithOverwriteOnGivesUpItsOldestFramesAndGoesOn) {
    ArchivingRun run(configFor(recordingAt25()), 7, 24);
    run.client.setOverwrite(true);
    ASSERT_TRUE(run.login()) << run.driver.describe();
    run.driver.run(DateTime(1970, 1, 1, 0, 0, 0));
    ASSERT_TRUE(run.driver.waitDone()) << run.driver.describe();
    EXPECT_TRUE(run.driver.read(run.driver.aborts).empty()) << run.driver.describe();

    ArchiveContents archive = readArchive(run.storage, run.recording());
    std::vector<FrameKey> expected = expectedFrames(run.recording().cursorAtFirst(BitMask32(0xFFFFFFFFu)));
    ASSERT_GT(archive.frames.size(), 100u);
    ASSERT_LT(archive.frames.size(), expected.size());
    EXPECT_EQ(archive.badPayloads, 0u);
    // What is left is the end of the recording.
    std::vector<FrameKey> tail(expected.end() - static_cast<long>(archive.frames.size()), expected.end());
    EXPECT_TRUE(archive.frames == tail) << archive.firstDifference(tail);
}

TEST(Archiver, ResumeRecordRoundTripsThroughTheStorageInformation) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "info.strg", 16);
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    Archiver archiver;
    archiver.attach(&storage);
    LastVideoRecord out;
    EXPECT_FALSE(archiver.readLastVideo(out));

    LastVideoRecord record;
    record.position = {7, 4294967295u, 12};
    record.sectionID = 3;
    record.time = DateTime(2009, 3, 1, 23, 59, 58);
    record.mediaID = 4294967296ull * 3 + 5;
    // A record names a frame the storage holds: one that names an ID never given out is
    // not read back.
    ASSERT_TRUE(archiver.writeLastVideo(record));
    EXPECT_FALSE(archiver.readLastVideo(out));
    storage.raiseNextItemID(record.mediaID + 1);
    std::string text;
    ASSERT_TRUE(storage.info(LastVideoRecord::PositionKey, text));
    EXPECT_EQ(text, "7 : (4294967295, 12)");
    ASSERT_TRUE(storage.info(LastVideoRecord::TimeKey, text));
    EXPECT_EQ(text, "2009/03/01 23:59:58");
    ASSERT_TRUE(archiver.readLastVideo(out));
    EXPECT_EQ(out.position, record.position);
    EXPECT_EQ(out.sectionID, 3u);
    EXPECT_TRUE(out.time.equals(record.time));
    EXPECT_EQ(out.mediaID, record.mediaID);

    // An invalid record changes nothing; a damaged value is not read as a record.
    LastVideoRecord invalid = record;
    invalid.sectionID = 0;
    ASSERT_TRUE(archiver.writeLastVideo(invalid));
    ASSERT_TRUE(archiver.readLastVideo(out));
    EXPECT_EQ(out.sectionID, 3u);
    storage.setInfo(LastVideoRecord::MediaIDKey, "18446744073709551616", false);
    EXPECT_FALSE(archiver.readLastVideo(out));
    storage.setInfo(LastVideoRecord::MediaIDKey, "12", false);
    storage.setInfo(LastVideoRecord::TimeKey, "2009/13/01 00:00:00", false);
    EXPECT_FALSE(archiver.readLastVideo(out));
    archiver.detach();
    EXPECT_TRUE(storage.close(true));
}
