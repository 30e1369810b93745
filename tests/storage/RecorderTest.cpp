#include <gtest/gtest.h>

#include "TrackFixture.h"
#include "base/Clock.h"
#include "storage/EventTrack.h"
#include "storage/Recorder.h"
#include "storage/TextInTrack.h"

namespace {

const DateTime T0(2024, 5, 1, 10, 0, 0);

MediaElement audioFrame(uint32_t mask, uint32_t linked, const std::vector<uint8_t>& payload) {
    MediaElement e;
    e.setMediaType(TimelineLinkedElement::Audio);
    e.setChannelMask(BitMask32(mask));
    e.setLinkedChannelMask(BitMask32(linked));
    e.setTime(T0);
    e.setDataLength(static_cast<uint32_t>(payload.size()));
    e.setPayload(payload.data());
    return e;
}

}  // namespace

TEST(RecorderAudio, TheGateKeepsAudioOnlyWhileLinkedVideoIsFresh) {
    ManualClock clock(T0);
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg");
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    Recorder recorder;
    recorder.attach(&storage, 0, true);
    std::vector<uint8_t> bytes = payloadOf(1, 160);
    MediaElement audio = audioFrame(0x1, 0x1, bytes);
    EXPECT_FALSE(recorder.write(audio).isSet());
    EXPECT_TRUE(logHas(storage, "IGNORE AUDIO (NO VIDEO)"));
    MediaElement video = videoFrame(0x1, 1, 0, T0, bytes);
    ASSERT_TRUE(recorder.write(video).isSet());
    clock.advanceMilliseconds(1900);
    audio = audioFrame(0x1, 0x1, bytes);
    EXPECT_TRUE(recorder.write(audio).isSet());
    EXPECT_EQ(audio.mediaID(), video.mediaID() + 1);
    clock.advanceMilliseconds(100);  // 2.0 s after the video
    uint64_t next = storage.nextItemID();
    audio = audioFrame(0x1, 0x1, bytes);
    EXPECT_FALSE(recorder.write(audio).isSet());
    EXPECT_EQ(storage.nextItemID(), next);  // nothing written
    EXPECT_TRUE(logHas(storage, "IGNORE AUDIO (VIDEO/AUDIO GAP IS TOO LARGE)"));
    // The archiving client's settings: every audio frame is written.
    recorder.attach(&storage, 0, false);
    audio = audioFrame(0x8, 0x8, bytes);
    EXPECT_TRUE(recorder.write(audio).isSet());
    recorder.detach();
    storage.close(true);
}

TEST(RecorderFlow, TextInGoesToItsTrackAndTheTimelineWithOneIDOfTheSharedSequence) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg");
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    Recorder recorder;
    recorder.attach(&storage, 0, false);
    std::vector<uint8_t> bytes = payloadOf(1, 500);
    MediaElement video = videoFrame(0x1, 1, 0, T0, bytes);
    ASSERT_TRUE(recorder.write(video).isSet());
    const char text[] = "RECEIPT 0042 TOTAL 12.50";
    MediaElement textIn;
    textIn.setMediaType(TimelineLinkedElement::TextIn);
    textIn.setChannelMask(BitMask32(0x1));
    textIn.setTime(T0);
    textIn.setPayload(reinterpret_cast<const uint8_t*>(text));
    textIn.setDataLength(sizeof text);
    textIn.setFlag1(1);
    PagePosition at = recorder.write(textIn);
    ASSERT_TRUE(at.isSet());
    EXPECT_EQ(textIn.mediaID(), video.mediaID() + 1);
    Page page(storage.superBlock(), storage.pageCache());
    TimelineElement entry;
    ASSERT_TRUE(storage.timeline()->read(page, at, entry));
    EXPECT_EQ(entry.mediaType(), TimelineLinkedElement::TextIn);
    EXPECT_EQ(entry.mediaID(), textIn.mediaID());
    std::vector<TextInElement> texts;
    storage.textIns(Interval(), texts);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_STREQ(texts[0].text(), text);
    EXPECT_EQ(texts[0].flags(), 2u);
    EXPECT_EQ(texts[0].sectionID(), storage.currentSectionID());
    // The media track holds only the video frame.
    TrackListItem media;
    ASSERT_TRUE(storage.findTrack(PageType::Media, media));
    EXPECT_EQ(storage.mediaTrack()->currentPage()->itemCount(), 1u);
    // A non-key frame of a channel never seen reaches the media track only.
    MediaElement orphan = videoFrame(0x4, 3, 2, T0, bytes);
    EXPECT_FALSE(recorder.write(orphan).isSet());
    EXPECT_EQ(orphan.mediaID(), textIn.mediaID() + 1);
    EXPECT_EQ(storage.mediaTrack()->currentPage()->itemCount(), 2u);
    recorder.detach();
    storage.close(true);
}

TEST(EventTrackIndexes, CalendarListingsWithALimitResumeAndOverwrite) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg");
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    std::vector<uint8_t> bytes = payloadOf(1, 100);
    std::vector<uint64_t> ids;
    for (uint16_t i = 0; i < 12; ++i) {
        MediaElement v = videoFrame(0x1, 1, i, T0.plusSeconds(i), bytes);
        PagePosition at = storage.writeTimelineAuto(v, storage.writeMedia(v));
        ids.push_back(v.mediaID());
        if (i % 2 == 0) {
            EventElement e;
            e.setEventType(2);
            e.setChannelMask(BitMask32(0x1));
            e.setMediaID(v.mediaID());
            e.setTime(v.time());
            e.setTimelinePosition(at);
            storage.writeEvent(e, false);
        }
    }
    EventElement older;
    older.setEventType(2);
    older.setChannelMask(BitMask32(0x1));
    older.setMediaID(ids[0]);
    older.setTime(T0);
    storage.writeEvent(older, false);  // a smaller ID on the same date keeps the larger
    std::set<Date> dates;
    storage.eventCalendarDates(dates);
    EXPECT_EQ(dates, std::set<Date>{Date(2024, 5, 1)});
    EventQuery query;
    query.interval = Interval(T0, T0.plusSeconds(100));
    query.maxCount = 2;
    std::vector<EventElement> page1;
    bool limit = false;
    storage.events(query, storage.currentSectionID(), page1, 1, limit);
    ASSERT_EQ(page1.size(), 2u);
    EXPECT_TRUE(limit);
    EXPECT_EQ(page1[0].mediaID(), ids[0]);
    EXPECT_EQ(page1[1].mediaID(), ids[2]);
    query.hasLast = true;
    query.last = page1[1];
    std::vector<EventElement> page2;
    storage.events(query, storage.currentSectionID(), page2, 1, limit);
    ASSERT_EQ(page2.size(), 2u);
    EXPECT_EQ(page2[0].mediaID(), ids[4]);
    query.typeMask = 1u << 3;  // no event of type 3
    std::vector<EventElement> none;
    storage.events(query, storage.currentSectionID(), none, 1, limit);
    EXPECT_TRUE(none.empty());
    storage.flush();
    EXPECT_TRUE(storage.eventTrack()->overwrite(ids.back() + 1));
    dates.clear();
    storage.eventCalendarDates(dates);
    EXPECT_TRUE(dates.empty());
    storage.close(true);
}

TEST(TextInSections, ANewDateWritesAStopElementAndOpensASection) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg");
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    auto write = [&](const DateTime& time, const char* text) {
        TextInElement t;
        t.setChannelMask(BitMask32(0x1));
        t.setTime(time);
        t.setText(text);
        return storage.writeTextIn(t);
    };
    write(T0, "one");
    write(T0.plusSeconds(5), "two");
    write(DateTime(2024, 5, 2, 9, 0, 0), "next day");
    write(DateTime(2024, 5, 2, 8, 0, 0), "clock back");
    std::vector<TextInTrack::TextSection> sections = storage.textInTrack()->sections();
    ASSERT_EQ(sections.size(), 3u);
    std::vector<TextInElement> texts;
    storage.textIns(Interval(), texts);
    ASSERT_EQ(texts.size(), 4u);  // the stop elements are not listed
    EXPECT_TRUE(logHas(storage, "TextInTrack :: WRITE STOP"));
    storage.close(true);
    FixedSizeFileStorage again;
    ASSERT_TRUE(again.open(path.c_str()));
    EXPECT_EQ(again.textInTrack()->sections().size(), 3u);
    again.close(true);
}
