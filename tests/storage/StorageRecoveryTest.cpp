#include <gtest/gtest.h>

#include "TrackFixture.h"
#include "storage/Recorder.h"
#include "storage/util/StorageChecker.h"

namespace {

const DateTime T0(2024, 5, 1, 10, 0, 0);

MediaElement frameOn(uint32_t mask, uint32_t key, uint16_t index, int second, std::vector<uint8_t>& bytes) {
    bytes = payloadOf(key * 100 + index + mask * 100000, 700);
    MediaElement frame = videoFrame(mask, key, index, T0.plusSeconds(second), bytes);
    frame.setParam64(key * 100 + index + mask * 100000);
    return frame;
}

}  // namespace

// The writer died after 200 frames reached the media track but none of their timeline
// entries did. The next open indexes them again: channel 1 goes on with its key group;
// channel 2's frames belong to a group whose key frame the timeline never saw, so they
// wait for its next key frame.
TEST(StorageRecovery, MediaWithoutTimelineEntriesIsIndexedAgainFromTheNextUsableKeyFrame) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg", 64);
    uint64_t lastMedia = 0;
    {
        FixedSizeFileStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        Recorder recorder;
        recorder.attach(&storage, 0, false);
        std::vector<uint8_t> bytes;
        for (uint16_t i = 0; i < 10; ++i) {
            MediaElement one = frameOn(1, 0, i, i, bytes);
            recorder.write(one);
            MediaElement two = frameOn(2, 0, i, i, bytes);
            recorder.write(two);
        }
        recorder.detach();
        storage.flushAll();
        // Media only: 100 frames per channel, channel 2 inside a group begun elsewhere.
        for (uint16_t i = 0; i < 100; ++i) {
            MediaElement one = frameOn(1, 0, static_cast<uint16_t>(10 + i), 10 + i, bytes);
            storage.writeMedia(one);
            uint32_t key = i < 30 ? 7 : 8;
            MediaElement two = frameOn(2, key, static_cast<uint16_t>(i < 30 ? 40 + i : i - 30), 10 + i, bytes);
            storage.writeMedia(two);
            lastMedia = two.mediaID();
        }
        storage.mediaTrack()->flush();
        storage.joinPendingPages();  // the media pages join their track; the timeline never hears of them
        storage.close(false);
    }
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    EXPECT_TRUE(logHas(storage, "[RECOVERY] timeline 170 items recovered")) << logText(storage);
    EXPECT_TRUE(logHas(storage, "[RECOVERY] recording table"));
    std::map<uint32_t, std::vector<uint16_t>> indexes;
    for (const auto& [position, entry] : timelineEntries(storage)) {
        indexes[entry.channelMask().value()].push_back(entry.syncIndex());
    }
    ASSERT_EQ(indexes[1].size(), 110u);
    EXPECT_EQ(indexes[1].back(), 109u);
    ASSERT_EQ(indexes[2].size(), 80u);
    EXPECT_EQ(indexes[2][10], 0u) << "channel 2 resumes at its next key frame";
    StorageChecker checker(storage);
    EXPECT_TRUE(checker.checkThoroughly());
    EXPECT_TRUE(checker.findings().empty()) << checker.findings().front().text;
    EXPECT_EQ(storage.nextItemID(), lastMedia + 1);
    storage.close(true);
    // Nothing is left to recover at the next open, and a read-only look finds nothing.
    FixedSizeFileStorage again;
    ASSERT_TRUE(again.open(path.c_str()));
    again.close(true);
    FixedSizeFileStorage reader;
    reader.setReadOnly(true);
    ASSERT_TRUE(reader.open(path.c_str()));
    EXPECT_TRUE(reader.openFindings().empty());
    reader.close(false);
}

// A crash left a frame whose tail never joined: a reader may still look (the check names
// the place, as it would while a writer records), and the writable open cuts the frame.
TEST(StorageRecovery, ReadOnlyOpenNamesATailThatNeverJoinedAndTheWritableOpenCutsIt) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg", 32);
    {
        FixedSizeFileStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        Recorder recorder;
        recorder.attach(&storage, 0, false);
        for (uint16_t i = 0; i < 6; ++i) {
            std::vector<uint8_t> bytes = payloadOf(i, TestPageSize * 2 / 3);
            MediaElement frame = videoFrame(1, 0, i, T0.plusSeconds(i), bytes);
            recorder.write(frame);
        }
        recorder.detach();
        storage.close(false);  // the last frame's tail page never joined
    }
    {
        FixedSizeFileStorage reader;
        reader.setReadOnly(true);
        EXPECT_TRUE(reader.open(path.c_str()));
        std::string found;
        for (const std::string& f : reader.openFindings()) {
            found += f + "\n";
        }
        EXPECT_NE(found.find("MDEA"), std::string::npos) << found;
        reader.close(false);
    }
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    EXPECT_TRUE(logHas(storage, "truncate overflowed frame")) << logText(storage);
    StorageChecker checker(storage);
    EXPECT_TRUE(checker.checkThoroughly()) << checker.findings().front().text;
    EXPECT_EQ(inconsistencies(storage), "");
    storage.close(true);
}
