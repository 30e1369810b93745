#include <gtest/gtest.h>

#include <vector>

#include "../group/GroupFixture.h"
#include "CrashSweep.h"
#include "app/archiving/Archiver.h"
#include "base/Exception.h"
#include "network/protocol/playback/MediaFrame.h"
#include "storage/aio/AIOContext.h"

// The first frame archived into a new group and the resume record stored with it, with the
// power cut at every write and barrier: after the reopen a record is read back exactly when
// its frame survived. A frame without a record would be archived again by the start from
// the first frame that follows; a record without its frame would make the resume skip it.

namespace {

MediaFrame keyFrame(const std::vector<uint8_t>& bytes) {
    MediaFrame frame;
    frame.mediaType = 0;
    frame.syncIndex = 0;
    frame.syncKeyID = 41;
    frame.channelMask = BitMask32(0x1);
    frame.time = DateTime(2026, 3, 2, 8, 0, 0);
    frame.dataLength = static_cast<uint32_t>(bytes.size());
    frame.data = bytes.data();
    return frame;
}

// What the reopened group holds: whether the frame is in its timeline, and the record.
struct Reopened {
    bool frame = false;
    bool record = false;
    LastVideoRecord lastVideo;
};

Reopened reopen(const GroupOnDisk& disk) {
    Reopened out;
    StorageGroupContext context(disk.repository);
    EXPECT_TRUE(context.load(disk.groupPath));
    uint64_t last = 0;
    out.frame = context.group().lastTimelineItemID(last);
    Archiver archiver;
    archiver.attach(&context.group());
    out.record = archiver.readLastVideo(out.lastVideo);
    archiver.detach();
    context.unload();
    return out;
}

}  // namespace

TEST(ResumeRecordCrash, TheFirstRecordSurvivesExactlyWhenItsFrameDoes) {
    std::vector<uint8_t> bytes = payloadOf(7, 3000);
    const MediaPosition position{5, 9, 1};
    int frameKept = 0;
    int frameLost = 0;
    uint32_t cuts = sweepPowerCuts("first resume record", 3, true, [&](Cut& cut) {
        TempDir dir;
        GroupOnDisk disk = makeGroup(dir, 2, 40);
        {
            StorageGroupContext context(disk.repository);
            ASSERT_TRUE(context.load(disk.groupPath));
            Archiver archiver;
            archiver.attach(&context.group());
            cut.arm();
            try {
                uint64_t mediaID = 0;
                MediaFrame frame = keyFrame(bytes);
                ASSERT_EQ(archiver.writeMedia(frame, position, mediaID), Archiver::Result::Written);
                LastVideoRecord record;
                record.position = position;
                record.sectionID = context.group().currentSectionID();
                record.time = frame.time;
                record.mediaID = mediaID;
                archiver.writeLastVideo(record, true);
            } catch (const Exception&) {
                // What the power cut left on disk is checked below.
            }
            archiver.detach();
            context.unload();
        }
        AIOContext::instance().setFaultPlan(nullptr);
        Reopened after = reopen(disk);
        if (!cut.powerWasCut()) {
            EXPECT_TRUE(after.frame && after.record);
            return;
        }
        EXPECT_EQ(after.record, after.frame) << cut.describe();
        (after.frame ? frameKept : frameLost) += 1;
        if (after.record) {
            EXPECT_EQ(after.lastVideo.position, position) << cut.describe();
            EXPECT_EQ(after.lastVideo.mediaID, 1u) << cut.describe();
        }
    });
    EXPECT_GT(cuts, 10u);
    // The sweep reaches both sides of the frame's own write.
    EXPECT_GT(frameKept, 0);
    EXPECT_GT(frameLost, 0);
}
