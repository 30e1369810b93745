#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "TrackFixture.h"
#include "storage/Recorder.h"
#include "storage/ResultSet.h"
#include "storage/TextInTrack.h"
#include "storage/aio/FaultPlan.h"

namespace {

const DateTime T0(2024, 5, 1, 10, 0, 0);

// Writes frames through a recorder; each payload is payloadOf(ordinal), the ordinal kept
// in param64, so what a reader returns can be checked byte for byte.
struct Writer {
    explicit Writer(Storage& storage) { recorder.attach(&storage, 0, false); }
    PagePosition video(uint32_t mask, uint32_t key, uint16_t index, const DateTime& time, uint32_t size = 200) {
        std::vector<uint8_t> bytes = payloadOf(next, size);
        MediaElement frame = videoFrame(mask, key, index, time, bytes);
        frame.setParam64(next++);
        PagePosition at = recorder.write(frame);
        lastID = frame.mediaID();
        return at;
    }
    PagePosition audio(uint32_t mask, const DateTime& time, uint32_t size = 160) {
        std::vector<uint8_t> bytes = payloadOf(next, size);
        MediaElement frame = videoFrame(mask, 0, 0, time, bytes);
        frame.setMediaType(TimelineLinkedElement::Audio);
        frame.setParam64(next++);
        PagePosition at = recorder.write(frame);
        lastID = frame.mediaID();
        return at;
    }
    Recorder recorder;
    uint64_t next = 1;
    uint64_t lastID = 0;
};

// The frame an element names, read through the result set and checked against the bytes
// it was written with. Empty when it is fine.
std::string frameProblem(ResultSet& rs, const TimelineElement& element) {
    MediaElement header;
    const uint8_t* parts[2];
    uint32_t lengths[2];
    if (!rs.readFrame(element, header, parts, lengths)) {
        return "frame " + std::to_string(element.mediaID()) + " cannot be read";
    }
    if (lengths[0] + lengths[1] != uint32_t(header.dataSize())) {
        return "frame " + std::to_string(element.mediaID()) + " parts do not add up";
    }
    std::vector<uint8_t> bytes(parts[0], parts[0] + lengths[0]);
    if (lengths[1] > 0) {
        bytes.insert(bytes.end(), parts[1], parts[1] + lengths[1]);
    }
    if (bytes != payloadOf(header.param64(), static_cast<uint32_t>(bytes.size()))) {
        return "frame " + std::to_string(element.mediaID()) + " has other bytes";
    }
    return "";
}

std::vector<uint16_t> indexesOf(const ResultSet::Elements& elements) {
    std::vector<uint16_t> out;
    for (const TimelineElement& e : elements) {
        out.push_back(e.syncIndex());
    }
    return out;
}

}  // namespace

TEST(ResultSetKeyGroups, StartingInsideAKeyGroupReturnsTheKeyFrameAndTheFramesUpToTheOneAsked) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg");
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    std::vector<PagePosition> group;
    std::vector<PagePosition> audio;
    {
        Writer w(storage);
        for (uint16_t i = 0; i < 30; ++i) {
            group.push_back(w.video(0x1, 5, i, T0.plusSeconds(i / 5)));
            w.video(0x2, 9, i % 10, T0.plusSeconds(i / 5));
            audio.push_back(w.audio(0x1, T0.plusSeconds(i / 5)));
        }
    }
    // On the element just before frame 12 of the group on mask 0x1.
    ResultSet rs;
    ASSERT_TRUE(rs.initToBegin(&storage, false));
    ASSERT_TRUE(rs.seek(audio[11]));
    ResultSet::Elements out;
    PagePosition at;
    ASSERT_TRUE(rs.next(BitMask32(0x1), out, at));
    std::vector<uint16_t> expected;
    for (uint16_t i = 0; i <= 12; ++i) {
        expected.push_back(i);
    }
    EXPECT_EQ(indexesOf(out), expected);
    EXPECT_EQ(at, group[12]);
    for (const TimelineElement& e : out) {
        EXPECT_EQ(e.syncKeyID(), 5u);
        EXPECT_EQ(frameProblem(rs, e), "");
    }
    // The group is known now: the next frame comes alone, then the channel's audio.
    ASSERT_TRUE(rs.next(BitMask32(0x1), out, at));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].mediaType(), TimelineLinkedElement::Audio);
    ASSERT_TRUE(rs.next(BitMask32(0x1), out, at));
    EXPECT_EQ(indexesOf(out), std::vector<uint16_t>{13});
    // Key frames only: the key frame and the frame asked for.
    ASSERT_TRUE(rs.initToBegin(&storage, true));
    ASSERT_TRUE(rs.seek(audio[11]));
    ASSERT_TRUE(rs.next(BitMask32(0x1), out, at));
    EXPECT_EQ(indexesOf(out), (std::vector<uint16_t>{0, 12}));
    storage.flush();
    EXPECT_TRUE(logHas(storage, "ResultSet::next() NEED KEY=5"));
    // Backwards from the end, every frame comes with its group.
    ASSERT_TRUE(rs.initToEnd(&storage, false));
    ASSERT_TRUE(rs.previous(BitMask32(0x1), out, at));
    EXPECT_EQ(out.front().mediaType(), TimelineLinkedElement::Audio);
    ASSERT_TRUE(rs.previous(BitMask32(0x1), out, at));
    EXPECT_EQ(out.size(), 30u);
    EXPECT_EQ(out.back().syncIndex(), 29u);
    EXPECT_EQ(at, group[29]);
    storage.close(true);
}

TEST(ResultSetChannels, AChannelAbsentForHoursIsFoundThroughTheRecordingTableWithoutLoadingEveryPage) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg", 256);
    uint64_t channel4 = 0;
    {
        FixedSizeFileStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        Writer w(storage);
        auto stretch = [&](int from, int seconds, bool withChannel4) {
            for (int s = from; s < from + seconds; ++s) {
                w.video(0x1, uint32_t(s / 5), uint16_t(s % 5), T0.plusSeconds(s), 40);
                if (withChannel4) {
                    w.video(0x4, uint32_t(1000 + s / 5), uint16_t(s % 5), T0.plusSeconds(s), 40);
                    ++channel4;
                }
            }
        };
        stretch(0, 60, true);
        stretch(60, 3 * 3600, false);  // three hours of channel 0x1 alone
        stretch(60 + 3 * 3600, 60, true);
        storage.flush();
        ASSERT_GT(pagesOf(storage, PageType::Timeline).size(), 40u);
        ASSERT_TRUE(storage.close(true));
    }
    // Each reading opens the storage afresh, so no page is cached from before.
    auto readAll = [&](BitMask32 channels, bool backwards, uint64_t& reads) {
        FixedSizeFileStorage storage;
        EXPECT_TRUE(storage.open(path.c_str()));
        FaultPlan counter;
        counter.aimAt(path);
        counter.install();
        ResultSet rs;
        EXPECT_TRUE(backwards ? rs.initToEnd(&storage, false) : rs.initToBegin(&storage, false));
        ResultSet::Elements out;
        PagePosition at;
        uint64_t count = 0;
        uint64_t lastID = backwards ? ~uint64_t(0) : 0;
        while (backwards ? rs.previous(channels, out, at) : rs.next(channels, out, at)) {
            for (const TimelineElement& e : out) {
                EXPECT_NE(e.channelMask().value() & channels.value(), 0u);
            }
            EXPECT_TRUE(backwards ? out.back().mediaID() < lastID : out.back().mediaID() > lastID);
            lastID = out.back().mediaID();
            ++count;
        }
        reads = counter.readCount();
        rs.close();
        storage.close(false);
        return count;
    };
    uint64_t everyPage = 0;
    EXPECT_EQ(readAll(BitMask32(0x1), false, everyPage), 3u * 3600 + 120);
    uint64_t jumping = 0;
    EXPECT_EQ(readAll(BitMask32(0x4), false, jumping), channel4);
    uint64_t jumpingBack = 0;
    EXPECT_EQ(readAll(BitMask32(0x4), true, jumpingBack), channel4);
    std::printf("page reads: channel 0x1 %llu, channel 0x4 forwards %llu, backwards %llu\n",
                static_cast<unsigned long long>(everyPage), static_cast<unsigned long long>(jumping),
                static_cast<unsigned long long>(jumpingBack));
    EXPECT_GT(everyPage, 40u);
    EXPECT_LT(jumping, 12u);
    EXPECT_LT(jumpingBack, 12u);
}

TEST(ResultSetFrames, PayloadsComeInOnePartOrInTwoAcrossAPageWithoutCopies) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg");
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    // A fills the first page up to room for one more header, so B's payload starts on
    // the next page; C's header fits after B and its payload runs over into a third page.
    uint32_t sizeA = TestPageSize - 128 - 64 - 64;
    Writer w(storage);
    w.video(0x1, 1, 0, T0, sizeA);
    w.video(0x1, 1, 1, T0, 10000);
    w.video(0x1, 1, 2, T0, 10000);
    w.video(0x1, 1, 3, T0, 100);
    ResultSet rs;
    ASSERT_TRUE(rs.initToBegin(&storage, false));
    ResultSet::Elements out;
    PagePosition at;
    std::vector<std::pair<uint32_t, uint32_t>> lengths;
    while (rs.next(BitMask32(0x1), out, at)) {
        MediaElement header;
        const uint8_t* parts[2];
        uint32_t length[2];
        ASSERT_TRUE(rs.readFrame(out.back(), header, parts, length));
        lengths.emplace_back(length[0], length[1]);
        EXPECT_EQ(frameProblem(rs, out.back()), "");
    }
    uint32_t firstPart = TestPageSize - (128 + 10000 + 64);
    EXPECT_EQ(lengths, (std::vector<std::pair<uint32_t, uint32_t>>{
                           {sizeA, 0}, {10000, 0}, {firstPart, 10000 - firstPart}, {100, 0}}));
    storage.close(true);
}

TEST(ResultSetFrames, AReaderOfThePageBeingWrittenSeesWhatIsAddedToItLater) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg");
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    Writer w(storage);
    w.video(0x1, 1, 0, T0, 3000);
    ResultSet rs;
    ASSERT_TRUE(rs.initToBegin(&storage, false));
    ResultSet::Elements out;
    PagePosition at;
    ASSERT_TRUE(rs.next(BitMask32(0x1), out, at));
    EXPECT_EQ(frameProblem(rs, out.back()), "");  // the reader holds a copy of the writer's pages
    EXPECT_FALSE(rs.next(BitMask32(0x1), out, at));
    // Appended to the same media and timeline pages, then one that continues into a page
    // the copy knows nothing of.
    w.video(0x1, 1, 1, T0, 3000);
    w.video(0x1, 1, 2, T0, TestPageSize - 1000);
    for (uint16_t index : {1, 2}) {
        ASSERT_TRUE(rs.next(BitMask32(0x1), out, at)) << index;
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].syncIndex(), index);
        EXPECT_EQ(frameProblem(rs, out[0]), "") << index;
    }
    storage.close(true);
}

TEST(ResultSetKeyGroups, AGroupWhoseBeginningWasOverwrittenIsPassedOverUpToTheNextKeyFrame) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg", 64);
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    Writer w(storage);
    // Groups of 400 small frames: a group spans more than one timeline page, so once
    // overwriting began the timeline's first entry lies inside a group whose key frame
    // is gone.
    TimelineElement first;
    bool ready = false;
    for (uint64_t i = 0; i < 60000 && !ready; ++i) {
        w.video(0x1, uint32_t(i / 400), uint16_t(i % 400), T0.plusSeconds(int(i / 10)), 100);
        ready = i > 20000 && StorageUtility(storage).firstItem(PageType::Timeline, first) && first.syncIndex() > 10 &&
                first.syncIndex() < 380;
    }
    ASSERT_TRUE(ready);
    ResultSet rs;
    ASSERT_TRUE(rs.initToBegin(&storage, false));
    ResultSet::Elements out;
    PagePosition at;
    ASSERT_TRUE(rs.next(BitMask32(0x1), out, at));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].syncIndex(), 0u);
    EXPECT_EQ(out[0].syncKeyID(), first.syncKeyID() + 1);
    EXPECT_EQ(frameProblem(rs, out[0]), "");
    storage.flush();
    EXPECT_TRUE(logHas(storage, "ResultSet::next() NEED KEY=" + std::to_string(first.syncKeyID())));
    storage.close(true);
}

TEST(ResultSetSeeking, ByTimeTheFrameComesWithItsGroupAndBackwardsTheLastOneBeforeTheTime) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg", 128);
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    {
        Writer w(storage);
        for (int s = 0; s < 600; ++s) {  // ten minutes, two frames a second, groups of 20
            for (int k = 0; k < 2; ++k) {
                int frame = s * 2 + k;
                w.video(0x1, uint32_t(frame / 20), uint16_t(frame % 20), T0.plusSeconds(s), 300);
            }
        }
    }
    uint32_t section = storage.currentSectionID();
    ResultSet rs;
    ASSERT_TRUE(rs.initToBegin(&storage, false));
    ResultSet::Elements out;
    PagePosition at;
    // 5 minutes in: frame 600, the first of key group 30.
    ASSERT_TRUE(rs.seekToTime(section, BitMask32(0x1), Interval(T0.plusSeconds(300), T0.plusSeconds(310)), out, at));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].syncKeyID(), 30u);
    EXPECT_EQ(out[0].syncIndex(), 0u);
    // 5 min 5 s: frame 610 of group 30 comes with the ten before it.
    ASSERT_TRUE(rs.seekToTime(section, BitMask32(0x1), Interval(T0.plusSeconds(305), T0.plusSeconds(310)), out, at));
    ASSERT_EQ(out.size(), 11u);
    EXPECT_TRUE(out.front().time().equals(T0.plusSeconds(300)));
    EXPECT_TRUE(out.back().time().equals(T0.plusSeconds(305)));
    EXPECT_EQ(frameProblem(rs, out.back()), "");
    ASSERT_TRUE(rs.next(BitMask32(0x1), out, at));
    EXPECT_EQ(indexesOf(out), std::vector<uint16_t>{11});
    // Nothing was recorded after ten minutes.
    EXPECT_FALSE(rs.seekToTime(section, BitMask32(0x1), Interval(T0.plusSeconds(700), T0.plusSeconds(800)), out, at));
    // Backwards: the last frame at or before 7 min 3 s is frame 847, index 7 of group 42.
    ASSERT_TRUE(rs.seekBackToTime(section, BitMask32(0x1), T0.plusSeconds(423), out, at));
    ASSERT_EQ(out.size(), 8u);
    EXPECT_EQ(out.back().syncKeyID(), 42u);
    EXPECT_EQ(out.back().syncIndex(), 7u);
    EXPECT_TRUE(out.back().time().equals(T0.plusSeconds(423)));
    storage.close(true);
}

TEST(ResultSetTextIn, TextInElementsAreReadFromTheTextInTrack) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg");
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    Writer w(storage);
    w.video(0x1, 1, 0, T0);
    const char text[] = "gate 3 open";
    MediaElement frame;
    frame.setMediaType(TimelineLinkedElement::TextIn);
    frame.setChannelMask(BitMask32(0x1));
    frame.setTime(T0);
    frame.setDataLength(sizeof text);
    frame.setPayload(reinterpret_cast<const uint8_t*>(text));
    ASSERT_TRUE(w.recorder.write(frame).isSet());
    ResultSet rs;
    ASSERT_TRUE(rs.initToBegin(&storage, false));
    ResultSet::Elements out;
    PagePosition at;
    ASSERT_TRUE(rs.next(BitMask32(0x1), out, at));
    ASSERT_TRUE(rs.next(BitMask32(0x1), out, at));
    ASSERT_EQ(out[0].mediaType(), TimelineLinkedElement::TextIn);
    TextInElement read;
    ASSERT_TRUE(rs.readTextIn(out[0], read));
    EXPECT_STREQ(read.text(), text);
    EXPECT_EQ(read.mediaID(), frame.mediaID());
    MediaElement header;
    const uint8_t* parts[2];
    uint32_t lengths[2];
    EXPECT_FALSE(rs.readFrame(out[0], header, parts, lengths));
    storage.close(true);
}

TEST(ResultSetConcurrency, AReaderOnAnotherThreadReadsEveryFrameWhileTheWriterRecords) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg", 1024);
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    constexpr uint64_t Frames = 3000;
    std::atomic<bool> started{false};
    std::thread writer([&] {
        Writer w(storage);
        for (uint64_t i = 0; i < Frames; ++i) {
            uint32_t size = i % 97 == 0 ? TestPageSize : 200 + uint32_t(i % 13) * 150;  // some spill
            w.video(i % 2 == 0 ? 0x1 : 0x2, uint32_t(i / 20), uint16_t((i / 2) % 10), T0.plusSeconds(int(i / 8)), size);
            started = true;
        }
        w.recorder.detach();
    });
    std::string problem;
    uint64_t read = 0;
    uint64_t lastOrdinal = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    ResultSet rs;
    while (!started && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
    }
    while (!rs.initToBegin(&storage, false) && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
    }
    ResultSet::Elements out;
    PagePosition at;
    while (read < Frames && problem.empty() && std::chrono::steady_clock::now() < until) {
        if (!rs.next(BitMask32(0x3), out, at)) {
            std::this_thread::yield();
            continue;
        }
        for (const TimelineElement& e : out) {
            MediaElement header;
            const uint8_t* parts[2];
            uint32_t lengths[2];
            if (!rs.readFrame(e, header, parts, lengths)) {
                problem = "frame " + std::to_string(e.mediaID()) + " cannot be read";
                break;
            }
            if (header.param64() != read + 1) {
                problem = "ordinal " + std::to_string(header.param64()) + " after " + std::to_string(lastOrdinal);
            }
            lastOrdinal = header.param64();
            problem = problem.empty() ? frameProblem(rs, e) : problem;
            ++read;
        }
    }
    writer.join();
    EXPECT_EQ(problem, "");
    EXPECT_EQ(read, Frames) << "the reader did not catch up with the writer within 20 s";
    rs.close();
    storage.close(true);
}
