#include <gtest/gtest.h>

#include "CrashSweep.h"
#include "GroupFixture.h"
#include "base/Exception.h"
#include "storage/aio/AIOContext.h"

namespace {

const DateTime T0(2024, 5, 1, 10, 0, 0);

// Frames whose payload is payloadOf(ordinal), in key groups of ten.
MediaElement frameOf(uint64_t ordinal, std::vector<uint8_t>& bytes) {
    bytes = payloadOf(ordinal, 900 + uint32_t(ordinal % 5) * 30);
    MediaElement frame =
        videoFrame(0x1, uint32_t(ordinal / 10), uint16_t(ordinal % 10), T0.plusSeconds(int(ordinal / 3)), bytes);
    frame.setParam64(ordinal);
    return frame;
}

FrameCheck payloadCheck() {
    return FrameCheck{[](const MediaElement& h, const std::vector<uint8_t>& b) {
                          return b == payloadOf(h.param64(), static_cast<uint32_t>(b.size()));
                      },
                      [](const TextInElement&) { return false; }};
}

// What a reading after a crash must not show: IDs that do not rise, and frames that do
// not read back unless they were never flushed and lie at the end of their storage's
// timeline (their media did not reach the disk before the power went).
std::string damage(const ReadBack& back, const std::set<uint64_t>& flushed) {
    std::ostringstream out;
    for (size_t i = 1; i < back.ids.size(); ++i) {
        if (back.ids[i] <= back.ids[i - 1]) {
            out << "ID " << back.ids[i] << " after " << back.ids[i - 1] << "\n";
        }
    }
    for (const auto& [id, storage] : back.bad) {
        if (flushed.count(id)) {
            out << "flushed frame " << id << " does not read back\n";
        }
        for (size_t i = 0; i < back.ids.size(); ++i) {
            if (back.storageOf[i] == storage && back.ids[i] > id && !back.bad.count(back.ids[i])) {
                out << "frame " << id << " does not read back but " << back.ids[i] << " after it does\n";
                break;
            }
        }
    }
    return out.str();
}

struct Files {
    std::vector<std::string> paths;
    void copyTo(const Files& other) const {
        for (size_t i = 0; i < paths.size(); ++i) {
            copyFile(paths[i], other.paths[i]);
        }
    }
};

// A group of two small storages recorded up to the frame that makes it switch: to the
// empty second storage, or (`ring`) from the full second one back round to the first.
struct SwitchCase {
    TempDir dir;
    GroupOnDisk disk;
    Files live;
    Files base;
    std::vector<Written> accepted;  // what the base holds
    uint64_t nextOrdinal = 0;
    uint64_t oldestKept = 0;  // overwriting at the switch may give up IDs below this

    explicit SwitchCase(bool ring) : disk(makeGroup(dir, 2, 24)) {
        live.paths = {disk.groupPath, disk.storages[0], disk.storages[1]};
        for (const std::string& path : live.paths) {
            base.paths.push_back(path + ".base");
        }
        StorageGroupContext context(disk.repository);
        if (!context.load(disk.groupPath)) {
            return;
        }
        StorageGroup& group = context.group();
        Feed feed(group);
        SwitchLog switches;
        group.addListener(&switches);
        size_t wanted = ring ? 1 : 0;
        for (int i = 0; i < 5000; ++i) {
            std::vector<uint8_t> bytes;
            MediaElement next = frameOf(nextOrdinal, bytes);
            if (switches.to.size() == wanted && !group.currentStorage()->hasEnoughSpace(PageType::Media, next)) {
                break;  // this frame would switch
            }
            feed.write(next);
            ++nextOrdinal;
        }
        group.flushAll();
        accepted = feed.accepted;
        std::vector<uint32_t> firstStoragePages = pagesOf(*group.recordingStorages().front(), PageType::Timeline);
        if (ring && firstStoragePages.size() > 1) {
            Page page(group.recordingStorages().front()->superBlock(), group.recordingStorages().front()->pageCache());
            page.loadForRead(firstStoragePages[1]);
            oldestKept = page.firstItemID();
        }
        group.removeListener(&switches);
        feed.recorder.detach();
        context.unload();
        live.copyTo(base);
    }
};

// Restores the base, records through the switch with the power cut at the sweep's
// point, reopens and checks what survived, then records on.
void sweepSwitch(SwitchCase& c, Cut& cut) {
    c.base.copyTo(c.live);
    std::vector<Written> accepted = c.accepted;
    size_t durable = accepted.size();
    {
        StorageGroupContext context(c.disk.repository);
        ASSERT_TRUE(context.load(c.disk.groupPath)) << cut.describe();
        StorageGroup& group = context.group();
        Feed feed(group);
        SwitchLog switches;
        // The old storage is flushed before the switch completes: what it holds survives.
        switches.onChanged = [&](Storage&) {
            if (!cut.powerWasCut()) {
                durable = accepted.size() + feed.accepted.size();
            }
        };
        group.addListener(&switches);
        cut.arm();
        try {
            for (uint64_t ordinal = c.nextOrdinal; ordinal < c.nextOrdinal + 4; ++ordinal) {
                std::vector<uint8_t> bytes;
                MediaElement frame = frameOf(ordinal, bytes);
                feed.write(frame);
            }
            group.flushAll();
            if (!cut.powerWasCut()) {
                durable = accepted.size() + feed.accepted.size();
            }
        } catch (const Exception&) {
            // What the crash left on disk is checked below.
        }
        EXPECT_FALSE(switches.to.empty() && !cut.powerWasCut()) << "the workload did not switch";
        accepted.insert(accepted.end(), feed.accepted.begin(), feed.accepted.end());
        group.removeListener(&switches);
        feed.recorder.detach();
        context.unload();
    }
    AIOContext::instance().setFaultPlan(nullptr);
    if (!cut.powerWasCut()) {
        return;
    }
    StorageGroupContext context(c.disk.repository);
    bool loaded = false;
    try {
        loaded = context.load(c.disk.groupPath);
    } catch (const Exception& e) {
        ADD_FAILURE() << cut.describe() << ": reopening threw " << e.describe();
        return;
    }
    ASSERT_TRUE(loaded) << cut.describe();
    StorageGroup& group = context.group();
    ReadBack back = readGroup(group, payloadCheck());
    std::set<uint64_t> read(back.ids.begin(), back.ids.end());
    std::vector<Written> flushed(accepted.begin(), accepted.begin() + static_cast<long>(durable));
    std::set<uint64_t> flushedIDs;
    for (const Written& w : flushed) {
        flushedIDs.insert(w.mediaID);
    }
    EXPECT_EQ(damage(back, flushedIDs), "") << cut.describe();
    uint64_t first = firstSurvivingID(group);
    EXPECT_LE(first, std::max<uint64_t>(c.oldestKept, accepted.front().mediaID)) << cut.describe();
    for (uint64_t id : survivorsFrom(flushed, first)) {
        if (!read.count(id) || back.bad.count(id)) {
            ADD_FAILURE() << cut.describe() << ": flushed frame " << id << " is gone";
            break;
        }
    }
    // Recording goes on, with a new key group, after everything that survived (round the
    // ring the next frame may give up the oldest pages first).
    uint64_t lastRead = back.ids.empty() ? 0 : back.ids.back();
    Feed feed(group);
    uint64_t from = (c.nextOrdinal / 10 + 2) * 10;
    for (uint64_t ordinal = from; ordinal < from + 5; ++ordinal) {
        std::vector<uint8_t> bytes;
        MediaElement frame = frameOf(ordinal, bytes);
        EXPECT_TRUE(feed.write(frame)) << cut.describe();
        EXPECT_GT(frame.mediaID(), lastRead) << cut.describe();
    }
    group.flushAll();
    // What survived the crash and, round the ring, the overwrite for the new frames.
    ReadBack again = readGroup(group, payloadCheck());
    std::vector<Written> kept;
    for (const TimelineElement& e : back.elements) {
        if (!back.bad.count(e.mediaID())) {
            kept.push_back(Written{e.mediaID(), e.mediaType(), e.channelMask().value(), e.syncIndex()});
        }
    }
    kept.insert(kept.end(), feed.accepted.begin(), feed.accepted.end());
    std::vector<uint64_t> expected = survivorsFrom(kept, firstSurvivingID(group));
    // A tail that did not reach the disk before the power went is still named by the
    // timeline, and the new frames follow it; nothing else may break.
    std::vector<uint64_t> good;
    for (uint64_t id : again.ids) {
        if (!again.bad.count(id)) {
            good.push_back(id);
        } else if (!back.bad.count(id)) {
            ADD_FAILURE() << cut.describe() << ": frame " << id << " broke after recording on";
        }
    }
    EXPECT_EQ(firstDifference(good, expected), "") << cut.describe();
    feed.recorder.detach();
    context.unload();
}

}  // namespace

TEST(StorageGroupSwitchCrash, PowerCutAtEveryWriteOfASwitchToAnEmptyStorageLosesNothingFlushed) {
    SwitchCase c(false);
    ASSERT_FALSE(c.accepted.empty());
    uint32_t cuts = sweepPowerCuts("switch to an empty storage", 3, false, [&](Cut& cut) { sweepSwitch(c, cut); });
    EXPECT_GT(cuts, 10u);
}

TEST(StorageGroupSwitchCrash, PowerCutAtEveryWriteOfASwitchRoundTheRingLosesNothingFlushed) {
    SwitchCase c(true);
    ASSERT_NE(c.oldestKept, 0u);
    uint32_t cuts = sweepPowerCuts("switch round the ring", 3, false, [&](Cut& cut) { sweepSwitch(c, cut); });
    EXPECT_GT(cuts, 10u);
}
