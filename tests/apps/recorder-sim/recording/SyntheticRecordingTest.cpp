#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "network/protocol/Packet.h"
#include "network/protocol/playback/PlaybackMessages.h"
#include "network/protocol/playback/PlaybackWire.h"
#include "recorder-sim/recording/SyntheticRecording.h"

namespace {

const BitMask32 All(0xFFFFFFFFu);

// Small enough to walk completely: 4 slices of 20 s, 10 s gaps, the clock set back by 5 s
// 8 s into the second slice.
SyntheticRecordingOptions smallOptions(uint64_t seed = 7) {
    SyntheticRecordingOptions o;
    o.seed = seed;
    o.videoChannels = 3;
    o.audioChannels = 2;
    o.framesPerSecond = 2;
    o.keyFrameInterval = 3;
    o.minFrameSize = 40;
    o.maxFrameSize = 300;
    o.minKeyFrameSize = 400;
    o.maxKeyFrameSize = 900;
    o.audioFrameSize = 24;
    o.start = DateTime(2009, 3, 1, 23, 59, 30);  // runs over midnight
    o.sliceCount = 4;
    o.sliceSeconds = 20;
    o.gapSeconds = 10;
    o.clockBackSlice = 1;
    o.clockBackAfterSeconds = 8;
    o.clockBackSeconds = 5;
    o.eventEverySeconds = 7;
    o.textInEverySeconds = 5;
    o.firstSectionID = 10;
    o.firstMediaID = 0xFFFFFF00ull;  // media IDs cross 2^32
    return o;
}

std::vector<SyntheticFrame> walk(FrameCursor cursor) {
    std::vector<SyntheticFrame> frames;
    SyntheticFrame frame;
    while (cursor.next(frame)) frames.push_back(frame);
    return frames;
}

bool sameFrame(const SyntheticFrame& a, const SyntheticFrame& b) {
    return a.mediaType == b.mediaType && a.channel == b.channel && a.frameNumber == b.frameNumber &&
           a.position == b.position && a.ordinal == b.ordinal && a.header.mediaID == b.header.mediaID &&
           a.header.time == b.header.time && a.header.syncKeyID == b.header.syncKeyID &&
           a.header.syncIndex == b.header.syncIndex && a.payload == b.payload &&
           a.textIn.mediaID == b.textIn.mediaID && std::string(a.textIn.text) == b.textIn.text;
}

uint64_t mediaIdOf(const SyntheticFrame& f) { return f.isTextIn() ? f.textIn.mediaID : f.header.mediaID; }
DateTime timeOf(const SyntheticFrame& f) { return f.isTextIn() ? f.textIn.time : f.header.time; }

}  // namespace

TEST(SyntheticRecording, SameSeedGivesTheSameRecordingAndAnotherSeedOtherBytes) {
    SyntheticRecording a(smallOptions(7));
    SyntheticRecording b(smallOptions(7));
    SyntheticRecording c(smallOptions(8));
    auto framesA = walk(a.cursorAtFirst(All));
    auto framesB = walk(b.cursorAtFirst(All));
    auto framesC = walk(c.cursorAtFirst(All));
    ASSERT_EQ(framesA.size(), framesB.size());
    for (size_t i = 0; i < framesA.size(); ++i) ASSERT_TRUE(sameFrame(framesA[i], framesB[i])) << i;
    size_t differing = 0;
    for (size_t i = 0; i < std::min(framesA.size(), framesC.size()); ++i) {
        if (framesA[i].payload != framesC[i].payload) ++differing;
    }
    EXPECT_GT(differing, framesA.size() / 2);
}

TEST(SyntheticRecording, FramesComeInRecordingOrderWithUniquePositionsAndIds) {
    SyntheticRecording recording(smallOptions());
    auto frames = walk(recording.cursorAtFirst(All));

    // 80 recorded seconds, 2 ticks of 3 video and 2 audio frames, plus one text-in frame
    // in every 5 seconds.
    EXPECT_EQ(recording.recordedSeconds(), 80u);
    size_t textIns = 0;
    for (const auto& f : frames) textIns += f.isTextIn();
    EXPECT_EQ(textIns, 16u);
    EXPECT_EQ(frames.size(), 80u * 2 * 5 + textIns);

    std::set<std::tuple<uint32_t, uint32_t, uint32_t>> positions;
    for (size_t i = 0; i < frames.size(); ++i) {
        const SyntheticFrame& f = frames[i];
        EXPECT_NE(f.position.positionB, 0u);  // a stored position is never mistaken for none
        EXPECT_TRUE(positions.insert({f.position.positionA, f.position.positionB, f.position.positionC}).second);
        EXPECT_EQ(f.position.positionA, f.sectionID);
        if (i > 0) {
            EXPECT_GT(mediaIdOf(f), mediaIdOf(frames[i - 1]));
            EXPECT_GT(f.ordinal, frames[i - 1].ordinal);
            EXPECT_GE(f.sectionID, frames[i - 1].sectionID);
        }
        // Every position and media ID leads back to the same frame.
        SyntheticFrame again;
        ASSERT_TRUE(recording.frameAt(f.position, again));
        EXPECT_TRUE(sameFrame(f, again));
        ASSERT_TRUE(recording.frameAtMediaID(mediaIdOf(f), again));
        EXPECT_TRUE(sameFrame(f, again));
        if (!f.isTextIn()) {
            ASSERT_TRUE(recording.frameOf(f.mediaType, f.channel, f.frameNumber, again));
            EXPECT_TRUE(sameFrame(f, again));
        }
    }
    EXPECT_GT(mediaIdOf(frames.back()), 0xFFFFFFFFull);

    // Audio belongs to its video channel; text-in frames carry their section.
    for (const auto& f : frames) {
        if (f.mediaType == PlaybackLayout::MediaTypeAudio) {
            EXPECT_EQ(f.header.linkedChannelMask.value(), 1u << (f.channel % 3));
            EXPECT_EQ(f.header.payloadSize(), 24u);
        }
        if (f.isTextIn()) {
            EXPECT_EQ(f.textIn.sectionID, f.sectionID);
            EXPECT_GT(strlen(f.textIn.text), 10u);
        }
    }
}

TEST(SyntheticRecording, KeyGroupsSatisfyTheTimelinesOrderRule) {
    SyntheticRecording recording(smallOptions());
    auto frames = walk(recording.cursorAtFirst(All));
    struct Sync {
        uint32_t keyID;
        uint16_t index;
        uint32_t section;
    };
    std::map<unsigned, Sync> last;
    std::set<uint32_t> keyIDs;
    size_t keys = 0;
    for (const auto& f : frames) {
        if (f.mediaType != PlaybackLayout::MediaTypeVideo) continue;
        const MediaFrame& h = f.header;
        EXPECT_EQ(f.dependent, h.syncIndex != 0);
        auto it = last.find(f.channel);
        bool newSection = it == last.end() || it->second.section != f.sectionID;
        if (newSection) {
            EXPECT_EQ(h.syncIndex, 0) << "a section must start with a key frame";
        }
        if (h.syncIndex == 0) {
            ++keys;
            EXPECT_TRUE(keyIDs.insert(h.syncKeyID * 16 + f.channel).second) << "key group reused";
            EXPECT_EQ(h.extraLength, f.payload.size() >= 64 ? 32u : 0u);
            EXPECT_GE(f.payload.size(), 400u);
            EXPECT_LE(f.payload.size(), 900u);
        } else {
            EXPECT_GE(f.payload.size(), 40u);
            EXPECT_LE(f.payload.size(), 300u);
            ASSERT_FALSE(newSection);
            EXPECT_EQ(h.syncKeyID, it->second.keyID);
            EXPECT_EQ(h.syncIndex, it->second.index + 1);
            EXPECT_EQ(h.extraLength, 0u);
        }
        EXPECT_LT(h.syncIndex, 3);
        last[f.channel] = {h.syncKeyID, h.syncIndex, f.sectionID};
    }
    EXPECT_GT(keys, 3u * 5);
}

TEST(SyntheticRecording, SlicesGapsAndTheBackwardsClockShowInListsAndTimes) {
    SyntheticRecording recording(smallOptions());
    const auto& segments = recording.segments();
    ASSERT_EQ(segments.size(), 5u);  // the second slice is split where the clock goes back
    DateTime start(2009, 3, 1, 23, 59, 30);
    auto slices = recording.timeTable(Interval(), All);
    ASSERT_EQ(slices.size(), 5u);
    EXPECT_EQ(slices[0].id, 10u);
    EXPECT_EQ(slices[0].interval, Interval(start, start.plusSeconds(19)));
    EXPECT_EQ(slices[0].channels.value(), 0x7u);
    // Second slice: 8 s, then the clock is 5 s earlier.
    EXPECT_EQ(slices[1].interval, Interval(start.plusSeconds(30), start.plusSeconds(37)));
    EXPECT_EQ(slices[2].interval, Interval(start.plusSeconds(33), start.plusSeconds(44)));
    EXPECT_EQ(slices[3].interval.from(), start.plusSeconds(55));
    for (size_t i = 0; i < slices.size(); ++i) EXPECT_EQ(slices[i].id, 10u + i);

    // Across the set-back the stream's time goes backwards once, with a new section.
    auto frames = walk(recording.cursorAtFirst(All));
    int backwards = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        if (timeOf(frames[i]) < timeOf(frames[i - 1])) {
            ++backwards;
            EXPECT_EQ(frames[i].sectionID, frames[i - 1].sectionID + 1);
            EXPECT_EQ(timeOf(frames[i]), start.plusSeconds(33));
        }
    }
    EXPECT_EQ(backwards, 1);

    // Lists: a gap has nothing; the doubled stretch belongs to two sections; cut to the interval.
    EXPECT_TRUE(recording.sectionList(Interval(start.plusSeconds(20), start.plusSeconds(29)), All).empty());
    EXPECT_EQ(recording.sectionList(Interval(start.plusSeconds(34), start.plusSeconds(35)), All),
              (std::vector<uint32_t>{11, 12}));
    auto cut = recording.timeTable(Interval(start.plusSeconds(10), start.plusSeconds(31)), BitMask32(0x2 | 0x100));
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0].interval, Interval(start.plusSeconds(10), start.plusSeconds(19)));
    EXPECT_EQ(cut[1].interval, Interval(start.plusSeconds(30), start.plusSeconds(31)));
    EXPECT_EQ(cut[0].channels.value(), 0x2u);
    EXPECT_TRUE(recording.timeTable(Interval(), BitMask32(0x100)).empty());

    // The recording runs over midnight.
    EXPECT_EQ(recording.recordingCalendar(Date(), Date()),
              (std::vector<Date>{Date(2009, 3, 1), Date(2009, 3, 2)}));
    EXPECT_EQ(recording.recordingCalendar(Date(2009, 3, 2), Date(2009, 3, 31)), (std::vector<Date>{Date(2009, 3, 2)}));
}

TEST(SyntheticRecording, CursorsStartWhereTheyArePutAndKeepToChannelsAndWindow) {
    SyntheticRecording recording(smallOptions());
    auto frames = walk(recording.cursorAtFirst(All));
    DateTime start(2009, 3, 1, 23, 59, 30);

    auto section = recording.cursorAtSection(12, All);
    ASSERT_TRUE(section.has_value());
    SyntheticFrame first;
    ASSERT_TRUE(section->next(first));
    EXPECT_EQ(first.sectionID, 12u);
    EXPECT_EQ(first.mediaType, PlaybackLayout::MediaTypeVideo);
    EXPECT_EQ(first.header.syncIndex, 0);
    EXPECT_EQ(first.header.time, start.plusSeconds(33));
    EXPECT_FALSE(recording.cursorAtSection(9, All).has_value());
    EXPECT_FALSE(recording.cursorAtSection(15, All).has_value());

    // From a stored position or media ID, the rest of the recording follows unchanged.
    size_t middle = frames.size() / 2;
    auto fromPosition = recording.cursorAtPosition(frames[middle].position, All);
    ASSERT_TRUE(fromPosition.has_value());
    auto rest = walk(*fromPosition);
    ASSERT_EQ(rest.size(), frames.size() - middle);
    for (size_t i = 0; i < rest.size(); ++i) ASSERT_TRUE(sameFrame(rest[i], frames[middle + i]));
    auto fromId = recording.cursorAtMediaID(mediaIdOf(frames[middle]), All);
    ASSERT_TRUE(fromId.has_value());
    EXPECT_EQ(fromId->peekPosition(), frames[middle].position);
    EXPECT_FALSE(recording.cursorAtPosition({13, 0, 0}, All).has_value());
    EXPECT_FALSE(recording.cursorAtPosition({13, 21, 0}, All).has_value());
    EXPECT_FALSE(recording.cursorAtPosition({13, 1, recording.slotsPerSecond()}, All).has_value());
    EXPECT_FALSE(recording.cursorAtMediaID(0, All).has_value());
    EXPECT_FALSE(recording.cursorAtMediaID(mediaIdOf(frames.back()) + 1, All).has_value());

    // By time: inside the doubled stretch the earlier recording; in a gap the next slice.
    SyntheticFrame at;
    auto doubled = recording.cursorAtTime(start.plusSeconds(35), All);
    ASSERT_TRUE(doubled.next(at));
    EXPECT_EQ(at.sectionID, 11u);
    EXPECT_EQ(at.header.time, start.plusSeconds(35));
    auto inGap = recording.cursorAtTime(start.plusSeconds(50), All);
    ASSERT_TRUE(inGap.next(at));
    EXPECT_EQ(at.sectionID, 13u);
    EXPECT_TRUE(recording.cursorAtTime(start.plusSeconds(100000), All).atEnd());

    // Channel 1 only: its video, the audio that belongs to it, its text-in.
    for (const auto& f : walk(recording.cursorAtFirst(BitMask32(0x2)))) {
        if (f.mediaType == PlaybackLayout::MediaTypeAudio) {
            EXPECT_EQ(f.channel % 3, 1u);
        } else {
            EXPECT_EQ(f.channel, 1u);
        }
    }
    EXPECT_TRUE(recording.cursorAtFirst(BitMask32(0x100)).atEnd());

    // A window keeps only the frames inside it, in recording order, over both sections
    // of the doubled stretch.
    Interval window(start.plusSeconds(36), start.plusSeconds(37));
    auto inside = walk(recording.cursorAtFirst(All, window));
    std::set<uint32_t> sections;
    for (const auto& f : inside) {
        EXPECT_TRUE(timeOf(f) >= window.from() && timeOf(f) <= window.to());
        sections.insert(f.sectionID);
    }
    EXPECT_EQ(sections, (std::set<uint32_t>{11, 12}));
    EXPECT_EQ(inside.size() - std::count_if(inside.begin(), inside.end(), [](auto& f) { return f.isTextIn(); }),
              4u * 2 * 5);
}

TEST(SyntheticRecording, EventAndTextInListsPointAtRealFramesAndPageCompletely) {
    SyntheticRecording recording(smallOptions());
    auto all = recording.eventList(Interval(), All, 0, 0);
    EXPECT_FALSE(all.hasMore);
    EXPECT_EQ(all.entries.size(), 80u / 7);
    std::set<uint8_t> types;
    for (const PlaybackEvent& e : all.entries) {
        SyntheticFrame frame;
        ASSERT_TRUE(recording.frameAt(e.position, frame));
        EXPECT_EQ(frame.mediaType, PlaybackLayout::MediaTypeVideo);
        EXPECT_EQ(frame.header.mediaID, e.mediaID);
        EXPECT_EQ(frame.header.time, e.time);
        EXPECT_EQ(frame.header.channelMask, e.channels);
        types.insert(e.eventType);
    }
    EXPECT_GT(types.size(), 1u);

    // Pages of 3 continue exactly where the previous one stopped.
    std::vector<PlaybackEvent> paged;
    uint64_t cursor = 0;
    for (int guard = 0; guard < 100; ++guard) {
        auto page = recording.eventList(Interval(), All, cursor, 3);
        EXPECT_LE(page.entries.size(), 3u);
        paged.insert(paged.end(), page.entries.begin(), page.entries.end());
        if (!page.hasMore) break;
        cursor = page.nextCursor;
    }
    ASSERT_EQ(paged.size(), all.entries.size());
    for (size_t i = 0; i < paged.size(); ++i) EXPECT_EQ(paged[i].mediaID, all.entries[i].mediaID);

    // Interval and channel filters.
    DateTime start(2009, 3, 1, 23, 59, 30);
    Interval firstSlice(start, start.plusSeconds(19));
    for (const auto& e : recording.eventList(firstSlice, BitMask32(0x1), 0, 0).entries) {
        EXPECT_TRUE(e.time <= start.plusSeconds(19));
        EXPECT_EQ(e.channels.value(), 1u);
    }

    // Text-in entries are the text-in frames of the stream.
    std::vector<SyntheticFrame> textFrames;
    for (const auto& f : walk(recording.cursorAtFirst(All))) {
        if (f.isTextIn()) textFrames.push_back(f);
    }
    auto texts = recording.textInList(Interval(), All, {}, 0, 0);
    ASSERT_EQ(texts.entries.size(), textFrames.size());
    for (size_t i = 0; i < textFrames.size(); ++i) {
        EXPECT_EQ(texts.entries[i].mediaID, textFrames[i].textIn.mediaID);
        EXPECT_EQ(texts.entries[i].time, textFrames[i].textIn.time);
        EXPECT_STREQ(texts.entries[i].text, textFrames[i].textIn.text);
    }
    std::string wanted = std::string(textFrames[3].textIn.text).substr(6, 10);  // "TXN 000003"
    auto found = recording.textInList(Interval(), All, {"no such text", wanted}, 0, 0);
    ASSERT_EQ(found.entries.size(), 1u);
    EXPECT_EQ(found.entries[0].mediaID, textFrames[3].textIn.mediaID);

    // Event calendars name exactly the dates that have entries.
    std::set<Date> eventDates;
    for (const auto& e : all.entries) eventDates.insert(e.time.date());
    std::set<Date> textDates;
    for (const auto& e : texts.entries) textDates.insert(e.time.date());
    auto eventCalendar = recording.eventCalendar(Date(), Date(), false);
    auto textCalendar = recording.eventCalendar(Date(), Date(), true);
    EXPECT_EQ(std::set<Date>(eventCalendar.begin(), eventCalendar.end()), eventDates);
    EXPECT_EQ(std::set<Date>(textCalendar.begin(), textCalendar.end()), textDates);
    EXPECT_TRUE(recording.eventCalendar(Date(2010, 1, 1), Date(2010, 12, 31), true).empty());
}

TEST(SyntheticRecording, VerificationCatchesEveryKindOfDamage) {
    SyntheticRecording recording(smallOptions());
    auto frames = walk(recording.cursorAtFirst(All));
    size_t checked = 0;
    for (const auto& f : frames) {
        if (f.isTextIn()) {
            Packet packet;
            writePlaybackMessage(packet, f.textInFrameMessage());
            TextInFrameMessage received;
            readPlaybackMessage(packet, received);
            EXPECT_EQ(received.position, f.position);
            EXPECT_EQ(received.frame.mediaID, f.textIn.mediaID);
            EXPECT_EQ(received.frame.flags, f.textIn.flags);
            EXPECT_STREQ(received.frame.text, f.textIn.text);
            continue;
        }
        // As a receiver sees it: sent as a 517 packet and parsed.
        Packet packet;
        writePlaybackMessage(packet, f.mediaFrameMessage());
        MediaFrameMessage received;
        readPlaybackMessage(packet, received);
        ASSERT_TRUE(recording.verifyFrame(received.frame));
        ++checked;
    }
    EXPECT_GT(checked, 700u);

    const SyntheticFrame& sample = frames[7];
    ASSERT_FALSE(sample.isTextIn());
    for (size_t at : {size_t{0}, size_t{5}, size_t{15}, size_t{16}, sample.payload.size() / 2, sample.payload.size() - 1}) {
        std::vector<uint8_t> damaged = sample.payload;
        damaged[at] ^= 0x01;
        MediaFrame frame = sample.header;
        frame.data = damaged.data();
        EXPECT_FALSE(recording.verifyFrame(frame)) << "flipped byte " << at;
        EXPECT_FALSE(recording.payload().verifyStamped(damaged.data(), damaged.size())) << at;
    }
    MediaFrame shortened = sample.frame();
    shortened.dataLength -= 1;
    EXPECT_FALSE(recording.verifyFrame(shortened));
    MediaFrame otherChannel = sample.frame();
    otherChannel.channelMask = BitMask32(otherChannel.channelMask.value() << 1);
    EXPECT_FALSE(recording.verifyFrame(otherChannel));
    MediaFrame otherFrame = sample.frame();
    otherFrame.param64 += 2;
    EXPECT_FALSE(recording.verifyFrame(otherFrame));
    EXPECT_TRUE(recording.payload().verifyStamped(sample.payload.data(), sample.payload.size()));
    EXPECT_EQ(recording.payload().expected(sample.mediaType, sample.channel, sample.frameNumber, !sample.dependent),
              sample.payload);
    // A key frame's payload is not that of a dependent frame with the same number.
    MediaFrame keyClaimed = sample.frame();
    keyClaimed.syncIndex = sample.header.syncIndex == 0 ? 1 : 0;
    EXPECT_FALSE(recording.verifyFrame(keyClaimed));
}

TEST(SyntheticRecording, LongRecordingsAreServedWithoutBeingMaterialised) {
    SyntheticRecordingOptions o;
    o.videoChannels = 16;
    o.audioChannels = 16;
    o.framesPerSecond = 30;
    o.sliceCount = 365;
    o.sliceSeconds = 86000;
    o.gapSeconds = 400;
    o.clockBackSlice = 200;
    o.eventEverySeconds = 60;
    o.textInEverySeconds = 10;
    SyntheticRecording recording(o);
    EXPECT_EQ(recording.segments().size(), 366u);
    EXPECT_EQ(recording.recordedSeconds(), 365u * 86000);
    EXPECT_EQ(recording.recordingCalendar(Date(), Date()).size(), 366u);  // every slice runs over midnight

    // Near the end of a year of recording, by time and by a late media ID.
    DateTime late = o.start.plusSeconds(364 * 86400 + 1000);
    SyntheticFrame frame;
    auto cursor = recording.cursorAtTime(late, BitMask32(0x8000));
    ASSERT_TRUE(cursor.next(frame));
    EXPECT_EQ(frame.channel, 15u);
    EXPECT_TRUE(recording.verifyFrame(frame.frame()));
    ASSERT_TRUE(recording.frameAtMediaID(frame.header.mediaID + 1, frame));

    auto events = recording.eventList(Interval(late, late.plusSeconds(3600)), All, 0, 0);
    EXPECT_EQ(events.entries.size(), 60u);
}

TEST(SyntheticRecording, AudioAloneBelongsToNoVideoAndIsAskedForByItsOwnChannels) {
    SyntheticRecordingOptions o = smallOptions();
    o.videoChannels = 0;
    o.eventEverySeconds = 0;
    o.textInEverySeconds = 0;
    SyntheticRecording recording(o);
    EXPECT_EQ(recording.channelMask().value(), 0x3u);
    auto frames = walk(recording.cursorAtFirst(All));
    ASSERT_EQ(frames.size(), 2u * 2u * recording.recordedSeconds());
    for (const SyntheticFrame& f : frames) {
        ASSERT_EQ(f.mediaType, PlaybackLayout::MediaTypeAudio);
        EXPECT_EQ(f.header.linkedChannelMask.value(), 0u);
        EXPECT_TRUE(recording.verifyFrame(f.frame()));
    }
    auto second = walk(recording.cursorAtFirst(BitMask32(0x2)));
    ASSERT_EQ(second.size(), frames.size() / 2);
    for (const SyntheticFrame& f : second) EXPECT_EQ(f.channel, 1u);
    EXPECT_FALSE(recording.timeTable(Interval(), BitMask32(0x3)).empty());

    // Events and text-in belong to video channels; a recording without any channel is none.
    o.eventEverySeconds = 7;
    EXPECT_THROW(SyntheticRecording{o}, std::invalid_argument);
    o.eventEverySeconds = 0;
    o.audioChannels = 0;
    EXPECT_THROW(SyntheticRecording{o}, std::invalid_argument);
}
