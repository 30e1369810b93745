// A synthetic recording written through the recorder, closed, and read back by a fresh
// process: the parent records, then runs this test binary again with a filter and the
// storage path in QUILLFEN_READBACK_PATH; the child reopens and checks everything.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <set>
#include <thread>

#include "SyntheticFrames.h"
#include "TrackFixture.h"
#include "recorder-sim/recording/SyntheticRecording.h"
#include "storage/EventTrack.h"
#include "storage/MediaTrackIterator.h"
#include "storage/Recorder.h"
#include "storage/TextInTrack.h"

namespace {

constexpr const char* PathVariable = "QUILLFEN_READBACK_PATH";

// 35 minutes of recorded time: three slices with gaps, the clock set back once.
SyntheticRecordingOptions options() {
    SyntheticRecordingOptions o;
    o.seed = 42;
    o.videoChannels = 4;
    o.audioChannels = 1;
    o.framesPerSecond = 2;
    o.keyFrameInterval = 10;
    o.minFrameSize = 256;
    o.maxFrameSize = 3000;
    o.minKeyFrameSize = 4096;
    o.maxKeyFrameSize = 20000;
    o.audioFrameSize = 160;
    o.sliceCount = 3;
    o.sliceSeconds = 700;
    o.gapSeconds = 120;
    o.clockBackSlice = 1;
    o.clockBackAfterSeconds = 300;
    o.clockBackSeconds = 120;
    o.eventEverySeconds = 30;
    o.textInEverySeconds = 20;
    return o;
}

// Runs this binary again on the child test; false (after killing it) when it does not end
// within the deadline.
int runChild(const std::string& path, std::chrono::seconds deadline) {
    pid_t pid = fork();
    if (pid == 0) {
        setenv(PathVariable, path.c_str(), 1);
        execl("/proc/self/exe", "storage_recording_tests", "--gtest_filter=StorageRecordingReadBack.Child*",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    auto until = std::chrono::steady_clock::now() + deadline;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(StorageRecordingReadBack, RecordingWrittenThroughTheRecorderReadsBackInAFreshProcess) {
    SyntheticRecording recording(options());
    ASSERT_GE(recording.recordedSeconds(), 30u * 60u);
    TempDir dir;
    std::string path = dir.file("big.strg");
    File::createPreallocated(path.c_str(), 512ull * 1024 * 1024 + 8192);
    {
        FixedSizeFileStorage storage;
        storage.open(path.c_str());
        FormatOptions format;
        format.recorderType = RecorderType::Flac;
        storage.format(format);
        ASSERT_TRUE(storage.close(true));
    }
    // The events by the recorder's media ID of their frame.
    std::multimap<uint64_t, PlaybackEvent> events;
    ListPage<PlaybackEvent> page = recording.eventList(Interval(), recording.channelMask(), 0, 1000000);
    for (const PlaybackEvent& e : page.entries) {
        events.emplace(e.mediaID, e);
    }
    ASSERT_GT(events.size(), 50u);
    {
        FixedSizeFileStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        Recorder recorder;
        recorder.attach(&storage, 0, false);
        FrameCursor cursor = recording.cursorAtFirst(BitMask32(0xFFFF));
        SyntheticFrame frame;
        uint64_t refused = 0;
        while (cursor.next(frame)) {
            MediaElement element = elementOf(frame);
            PagePosition at = recorder.write(element);
            refused += at.isSet() ? 0 : 1;
            uint64_t recorderID = frame.isTextIn() ? frame.textIn.mediaID : frame.header.mediaID;
            auto range = events.equal_range(recorderID);
            for (auto it = range.first; it != range.second; ++it) {
                EventElement e;
                e.setEventType(it->second.eventType);
                e.setEventParam(it->second.eventParam);
                e.setChannelMask(it->second.channels);
                e.setTime(it->second.time);
                e.setMediaID(element.mediaID());
                e.setTimelinePosition(at);
                storage.writeEvent(e, false);
            }
        }
        EXPECT_EQ(refused, 0u) << "every frame follows its key group";
        recorder.detach();
        ASSERT_TRUE(storage.close(true));
    }
    EXPECT_EQ(runChild(path, std::chrono::seconds(240)), 0) << "the reading process failed (see its output above)";
}

TEST(StorageRecordingReadBack, ChildReopensAndFindsEveryFrameSectionEventAndText) {
    const char* path = std::getenv(PathVariable);
    if (path == nullptr) {
        GTEST_SKIP() << "run by the recording test in a process of its own";
    }
    SyntheticRecording recording(options());
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path));
    ASSERT_GE(storage.capacity(), 512ull * 1024 * 1024);
    // The media track: every audio and video frame once, in order, byte for byte.
    MediaTrackIterator media(storage, PageType::Media);
    media.toFirst();
    FrameCursor cursor = recording.cursorAtFirst(BitMask32(0xFFFF));
    SyntheticFrame frame;
    uint64_t frames = 0;
    uint64_t texts = 0;
    uint64_t previousID = 0;
    std::map<uint64_t, bool> isText;
    while (cursor.next(frame)) {
        if (frame.isTextIn()) {
            ++texts;
            continue;
        }
        MediaElement header;
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(media.isValid()) << "media ends before frame " << frame.ordinal;
        ASSERT_TRUE(readMedia(storage, media.position(), header, bytes)) << "frame " << frame.ordinal;
        ASSERT_EQ(header.mediaType(), frame.header.mediaType) << frame.ordinal;
        ASSERT_EQ(header.channelMask().value(), frame.header.channelMask.value()) << frame.ordinal;
        ASSERT_EQ(header.param64(), frame.header.param64) << frame.ordinal;
        ASSERT_TRUE(isFrameOf(recording, header, bytes.data(), bytes.size()))
            << "payload of frame " << frame.ordinal;
        ASSERT_GT(header.mediaID(), previousID);
        previousID = header.mediaID();
        ++frames;
        media.next();
    }
    EXPECT_FALSE(media.isValid()) << "media holds more than the recording";
    // The timeline: one entry per frame, media and text-in, each naming its element.
    auto entries = timelineEntries(storage);
    ASSERT_EQ(entries.size(), frames + texts);
    uint64_t lastID = 0;
    for (const auto& [position, entry] : entries) {
        ASSERT_GT(entry.mediaID(), lastID);
        lastID = entry.mediaID();
        if (entry.mediaType() == TimelineLinkedElement::TextIn) {
            TextInElement t;
            Page page(storage.superBlock(), storage.pageCache());
            ASSERT_TRUE(storage.textInTrack()->read(page, entry.mediaPosition(), t));
            ASSERT_EQ(t.mediaID(), entry.mediaID());
            continue;
        }
        MediaElement header;
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(readMedia(storage, entry.mediaPosition(), header, bytes));
        ASSERT_EQ(header.mediaID(), entry.mediaID());
    }
    EXPECT_EQ(storage.nextItemID(), lastID + 1);
    // The recording table: a section per run of the clock, an interval per segment.
    std::vector<std::vector<Interval>> expected;
    int64_t lastEnd = 0;
    for (const RecordingSegment& segment : recording.segments()) {
        if (expected.empty() || segment.startEpoch <= lastEnd) {
            expected.emplace_back();
        }
        expected.back().emplace_back(segment.start(), segment.end());
        lastEnd = segment.endEpoch();
    }
    std::vector<RecordingSection> sections = storage.recordingSections();
    ASSERT_EQ(sections.size(), expected.size());
    for (size_t i = 0; i < sections.size(); ++i) {
        ASSERT_EQ(sections[i].intervals().size(), expected[i].size()) << "section " << sections[i].id();
        for (size_t k = 0; k < expected[i].size(); ++k) {
            EXPECT_TRUE(sections[i].intervals()[k].equals(expected[i][k]))
                << "section " << sections[i].id() << " interval " << k << ": " << textOf(sections[i].intervals()[k])
                << " expected " << textOf(expected[i][k]);
        }
    }
    std::map<Date, RecordingTable::DateIDs> dates;
    storage.recordingDates(dates);
    EXPECT_EQ(dates.size(), recording.recordingCalendar(Date(2000, 1, 1), Date(2100, 1, 1)).size());
    // The time table covers the same recorded seconds as the sections.
    std::vector<RecordingTable::TimeSlice> slices;
    storage.recordingTimeTable(BitMask32(0xF), Interval(), slices);
    int64_t covered = 0;
    for (const RecordingTable::TimeSlice& s : slices) {
        covered += s.interval.to().secondsSince(s.interval.from()) + 1;
    }
    EXPECT_EQ(covered, static_cast<int64_t>(recording.recordedSeconds()));
    // Events by date and by section; each names its frame's timeline entry.
    std::set<Date> eventDates;
    storage.eventCalendarDates(eventDates);
    std::vector<Date> expectedDates = recording.eventCalendar(Date(2000, 1, 1), Date(2100, 1, 1), false);
    EXPECT_EQ(eventDates, std::set<Date>(expectedDates.begin(), expectedDates.end()));
    size_t eventCount = 0;
    for (const RecordingSection& s : sections) {
        EventQuery query;
        query.interval = Interval(DateTime(2000, 1, 1, 0, 0, 0), DateTime(2100, 1, 1, 0, 0, 0));
        std::vector<EventElement> found;
        storage.events(query, s.id(), found, 1);
        for (const EventElement& e : found) {
            TimelineElement entry;
            Page page(storage.superBlock(), storage.pageCache());
            ASSERT_TRUE(storage.timeline()->read(page, e.timelinePosition(), entry));
            EXPECT_EQ(entry.mediaID(), e.mediaID());
            EXPECT_EQ(e.sectionID(), s.id());
        }
        eventCount += found.size();
    }
    EXPECT_EQ(eventCount, recording.eventList(Interval(), recording.channelMask(), 0, 1000000).entries.size());
    // Text-in by date and by media ID.
    std::vector<TextInElement> textIns;
    storage.textIns(Interval(), textIns);
    EXPECT_EQ(textIns.size(), texts);
    std::set<Date> textDates;
    storage.textInCalendarDates(textDates);
    std::vector<Date> expectedTextDates = recording.eventCalendar(Date(2000, 1, 1), Date(2100, 1, 1), true);
    EXPECT_EQ(textDates, std::set<Date>(expectedTextDates.begin(), expectedTextDates.end()));
    storage.close(true);
}
