#include <gtest/gtest.h>

#include "TrackFixture.h"
#include "base/Clock.h"
#include "storage/EventTrack.h"
#include "storage/Recorder.h"
#include "storage/TextInTrack.h"

namespace {

const DateTime T0(2024, 5, 1, 10, 0, 0);

// Writes one video frame through the storage as the recorder does; returns its timeline
// position.
PagePosition video(Storage& storage, uint32_t mask, uint32_t key, uint16_t index, const DateTime& time,
                   uint32_t size = 200) {
    std::vector<uint8_t> payload = payloadOf(key * 1000 + index, size);
    MediaElement frame = videoFrame(mask, key, index, time, payload);
    PagePosition media = storage.writeMedia(frame);
    return storage.writeTimelineAuto(frame, media);
}

struct SectionChanges : IStorageListener {
    std::vector<uint32_t> sections;
    void spaceChanged(Storage&, uint32_t, uint32_t) override {}
    void changeBegun(Storage&) override {}
    void changeFinished(Storage&) override {}
    void recordingSectionChanged(Storage&, uint32_t id) override { sections.push_back(id); }
};

}  // namespace

TEST(TimelineKeyGroups, NonKeyFramesNeedTheirGroupAndEachChannelMaskKeepsItsOwnChain) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg");
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    EXPECT_FALSE(video(storage, 0x1, 7, 1, T0).isSet());  // no key frame yet for the mask
    EXPECT_FALSE(logHas(storage, "it->second.syncKeyID"));
    EXPECT_TRUE(logHas(storage, "[IGNORE] Timeline::write() NEED KEY"));
    PagePosition a0 = video(storage, 0x1, 7, 0, T0);
    PagePosition a1 = video(storage, 0x1, 7, 1, T0);
    PagePosition b0 = video(storage, 0x2, 3, 0, T0);
    PagePosition a2 = video(storage, 0x1, 7, 2, T0);
    PagePosition c0 = video(storage, 0x3, 1, 0, T0);
    EXPECT_TRUE(a0.isSet() && a1.isSet() && a2.isSet() && b0.isSet() && c0.isSet());
    EXPECT_FALSE(video(storage, 0x1, 7, 4, T0).isSet());  // index 3 is missing
    EXPECT_TRUE(logHas(storage, "it->second.syncKeyID = 7, it->second.syncIndex = 2")) << logText(storage);
    EXPECT_TRUE(video(storage, 0x1, 8, 0, T0).isSet());
    // Audio and text-in are always written.
    std::vector<uint8_t> bytes = payloadOf(9, 160);
    MediaElement audio;
    audio.setMediaType(TimelineLinkedElement::Audio);
    audio.setChannelMask(BitMask32(0x10));
    audio.setSyncIndex(0);
    audio.setPayload(bytes.data());
    audio.setDataLength(160);
    EXPECT_TRUE(storage.writeTimelineAuto(audio, storage.writeMedia(audio)).isSet());
    // Previous-position chains per (type, mask).
    Page page(storage.superBlock(), storage.pageCache());
    TimelineElement e;
    ASSERT_TRUE(storage.timeline()->read(page, a2, e));
    EXPECT_EQ(e.previousPosition(), a1);
    ASSERT_TRUE(storage.timeline()->read(page, a1, e));
    EXPECT_EQ(e.previousPosition(), a0);
    ASSERT_TRUE(storage.timeline()->read(page, b0, e));
    EXPECT_EQ(e.previousPosition(), PagePosition());
    ASSERT_TRUE(storage.timeline()->read(page, c0, e));
    EXPECT_EQ(e.previousPosition(), PagePosition());
    EXPECT_EQ(e.mediaSize(), 264u);
    storage.close(true);
}

TEST(TimelineKeyGroups, ReopenedStorageContinuesEveryChannelsGroupAndItsIDs) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg");
    uint64_t lastID = 0;
    {
        FixedSizeFileStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        for (uint16_t i = 0; i < 5; ++i) {
            video(storage, 0x1, 4, i, T0.plusSeconds(i));
            video(storage, 0x2, 9, i, T0.plusSeconds(i));
        }
        lastID = storage.nextItemID() - 1;
        storage.close(true);
    }
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    EXPECT_EQ(storage.nextItemID(), lastID + 1);
    EXPECT_TRUE(video(storage, 0x1, 4, 5, T0.plusSeconds(5)).isSet());
    EXPECT_TRUE(video(storage, 0x2, 9, 5, T0.plusSeconds(5)).isSet());
    EXPECT_FALSE(video(storage, 0x4, 2, 3, T0.plusSeconds(5)).isSet());  // a channel never seen
    EXPECT_EQ(storage.nextItemID(), lastID + 4);
    storage.close(true);
}

TEST(TimelinePages, RemovingTheFirstPageOfAOnePageTimelineDeletesIt) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg");
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    video(storage, 0x1, 1, 0, T0);
    storage.flush();
    storage.timeline()->removeFirstPage();
    EXPECT_FALSE(storage.hasTrack(PageType::Timeline));
    EXPECT_FALSE(video(storage, 0x1, 1, 1, T0).isSet());  // the group went with the page
    EXPECT_EQ(inconsistencies(storage), "");
    storage.close(true);
}

TEST(RecordingTableFeed, RecordsForChannelChangesPausesDatesAndSections) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg");
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    SectionChanges changes;
    storage.addListener(&changes);
    RecordingTable* table = storage.recordingTable();
    table->writeStop();
    EXPECT_TRUE(logHas(storage, "RecordingTable::writeStop : no need to write cause empty"));
    video(storage, 0x1, 1, 0, T0);
    video(storage, 0x2, 2, 0, T0);
    EXPECT_TRUE(table->lastRecord().isEmpty());  // nothing written within the second
    video(storage, 0x3, 3, 0, T0.plusSeconds(1));
    RecordingTableElement first = table->lastRecord();
    EXPECT_TRUE(first.time().equals(T0));
    EXPECT_EQ(first.channelMask().value(), 0x3u);
    EXPECT_EQ(first.sectionID(), 1u);
    EXPECT_TRUE(logHas(storage, "WRITE RESERVED: "));
    EXPECT_EQ(changes.sections, std::vector<uint32_t>{1});
    // A jump of four seconds: a stop record at the last time, a new interval.
    video(storage, 0x3, 3, 1, T0.plusSeconds(5));
    RecordingTableElement stop = table->lastRecord();
    EXPECT_TRUE(stop.isStop());
    EXPECT_TRUE(stop.time().equals(T0.plusSeconds(1)));
    video(storage, 0x3, 3, 2, T0.plusSeconds(6));
    RecordingSection s;
    ASSERT_TRUE(table->section(1, s));
    ASSERT_EQ(s.intervals().size(), 2u) << logText(storage);
    EXPECT_TRUE(s.intervals()[0].equals(Interval(T0, T0.plusSeconds(1))));
    EXPECT_TRUE(s.intervals()[1].equals(Interval(T0.plusSeconds(5), T0.plusSeconds(5))));
    // Crossing midnight with the same channels: a record for the new date.
    DateTime late(2024, 5, 1, 23, 59, 59);
    video(storage, 0x3, 5, 0, late);
    video(storage, 0x3, 5, 1, late.plusSeconds(1));
    video(storage, 0x3, 5, 2, late.plusSeconds(2));
    // The clock goes back: a new section, announced.
    video(storage, 0x3, 6, 0, T0);
    video(storage, 0x3, 6, 1, T0.plusSeconds(1));
    EXPECT_EQ(table->currentSectionID(), 2u);
    EXPECT_EQ(changes.sections, (std::vector<uint32_t>{1, 2}));
    ASSERT_TRUE(table->section(1, s));
    ASSERT_EQ(s.dates().size(), 2u);
    EXPECT_TRUE(s.dates()[1].date.equals(Date(2024, 5, 2)));
    std::vector<RecordingTable::TimeSlice> slices;
    table->recordingTimeTable(BitMask32(0x1), Interval(), slices);
    ASSERT_GE(slices.size(), 3u);
    EXPECT_EQ(slices.front().sectionID, 1u);
    EXPECT_TRUE(slices.front().interval.equals(Interval(T0, T0.plusSeconds(1))));
    EXPECT_EQ(slices.back().sectionID, 2u);
    table->finish();
    table->writeStop();
    EXPECT_TRUE(logHas(storage, "no need to write cause stopped"));
    storage.removeListener(&changes);
    storage.close(true);
    // Rebuilt from the back chain at open: the same sections and intervals.
    FixedSizeFileStorage again;
    ASSERT_TRUE(again.open(path.c_str()));
    RecordingSection rebuilt;
    ASSERT_TRUE(again.recordingTable()->section(1, rebuilt));
    EXPECT_EQ(rebuilt.intervals().size(), s.intervals().size());
    EXPECT_TRUE(rebuilt.intervals().front().equals(s.intervals().front()));
    EXPECT_EQ(again.recordingTable()->sectionIDs(), (std::set<uint32_t>{1, 2}));
    again.close(true);
}

TEST(RecordingTableOverwrite, DroppingEverySectionRecordErasesItAndForgetsTheLastRecord) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg");
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    RecordingTable* table = storage.recordingTable();
    for (int i = 0; i < 3; ++i) {
        video(storage, 0x1, 1, static_cast<uint16_t>(i), T0.plusSeconds(i * 3));
    }
    video(storage, 0x1, 2, 0, T0.plusSeconds(-100));
    video(storage, 0x1, 2, 1, T0.plusSeconds(-99));
    ASSERT_EQ(table->sectionIDs(), (std::set<uint32_t>{1, 2}));
    uint64_t firstOfTwo = 0;
    RecordingSection two;
    ASSERT_TRUE(table->section(2, two));
    firstOfTwo = two.firstMediaID();
    storage.flush();
    table->overwrite(firstOfTwo);
    EXPECT_FALSE(table->hasSection(1));
    storage.overwriteOldest();  // a one-page timeline: every data track is emptied
    EXPECT_TRUE(table->sectionIDs().empty());
    EXPECT_TRUE(table->lastRecord().isEmpty());
    storage.close(true);
}
