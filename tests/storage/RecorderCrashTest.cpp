#include <gtest/gtest.h>

#include "TrackFixture.h"
#include "storage/MediaTrackIterator.h"
#include "storage/Recorder.h"

namespace {

const DateTime T0(2024, 5, 1, 10, 0, 0);

// Frames of two thirds of a page: most spill into a new page, and in a storage of a
// dozen pages the writes soon overwrite the oldest recording.
void writeFrames(Storage& storage, uint64_t from, uint64_t count) {
    Recorder recorder;
    recorder.attach(&storage, 0, false);
    for (uint64_t i = from; i < from + count; ++i) {
        std::vector<uint8_t> bytes = payloadOf(i, TestPageSize * 2 / 3 + static_cast<uint32_t>(i % 5) * 100);
        MediaElement frame = videoFrame(0x1, static_cast<uint32_t>(i / 4), static_cast<uint16_t>(i % 4),
                                        T0.plusSeconds(static_cast<int>(i)), bytes);
        frame.setParam64(i);
        recorder.write(frame);
    }
    recorder.detach();
}

// After any crash: every media element the track holds is whole with its own bytes, IDs
// rise, and every timeline entry that names media names the element with its ID; entries
// that cannot be resolved are only at the timeline's end (the media they name did not
// reach the disk).
std::string damage(Storage& storage) {
    std::ostringstream out;
    MediaTrackIterator it(storage, PageType::Media);
    MediaElement e;
    uint64_t last = 0;
    for (it.toFirst(); it.read(e); it.next()) {
        MediaElement header;
        std::vector<uint8_t> bytes;
        if (!readMedia(storage, it.position(), header, bytes)) {
            // Only the last element may lack a tail the power took; the next open cuts it.
            continue;
        }
        if (bytes != payloadOf(header.param64(), static_cast<uint32_t>(bytes.size()))) {
            out << "media " << header.mediaID() << " has other bytes\n";
        }
        if (header.mediaID() <= last) {
            out << "media IDs do not rise at " << header.mediaID() << "\n";
        }
        last = header.mediaID();
    }
    bool unresolved = false;
    for (const auto& [position, entry] : timelineEntries(storage)) {
        MediaElement header;
        std::vector<uint8_t> bytes;
        bool ok = readMedia(storage, entry.mediaPosition(), header, bytes) && header.mediaID() == entry.mediaID();
        if (ok && unresolved) {
            out << "timeline entry " << entry.mediaID() << " resolves after one that does not\n";
        }
        unresolved = unresolved || !ok;
    }
    return out.str();
}

}  // namespace

TEST(RecorderCrash, PowerCutAtEveryWriteOfSpillingFramesAndOverwritesLeavesWholeFrames) {
    TempDir dir;
    std::string base = formattedRealStorage(dir, "base.strg", 12);
    std::string work = dir.file("work.strg");
    {
        FixedSizeFileStorage storage;
        ASSERT_TRUE(storage.open(base.c_str()));
        writeFrames(storage, 0, 10);
        ASSERT_TRUE(storage.close(true));
    }
    auto change = [](Storage& storage) {
        writeFrames(storage, 10, 8);  // page joins of spilled tails and overwrites of old pages
        storage.flush();
    };
    uint64_t writes = 0;
    copyFile(base, work);
    {
        FixedSizeFileStorage storage;
        ASSERT_TRUE(storage.open(work.c_str()));
        PlanScope scope;
        change(storage);
        writes = scope.plan.writeCount();
        storage.close(false);
    }
    ASSERT_GT(writes, 10u);
    uint32_t seeds = std::max<uint32_t>(3, crashSeeds() / 3);
    uint64_t cuts = 0;
    for (uint64_t cut = 1; cut <= writes; ++cut) {
        for (uint32_t seed = 0; seed < seeds; ++seed) {
            copyFile(base, work);
            {
                FixedSizeFileStorage storage;
                ASSERT_TRUE(storage.open(work.c_str()));
                PlanScope scope;
                scope.plan.cutPowerAtWrite(cut, seed);
                try {
                    change(storage);
                } catch (const Exception&) {
                }
                storage.close(false);
            }
            std::string what = "cut at write " + std::to_string(cut) + " seed " + std::to_string(seed);
            FixedSizeFileStorage storage;
            bool opened = false;
            try {
                opened = storage.open(work.c_str());
            } catch (const Exception& e) {
                ADD_FAILURE() << what << ": reopen threw " << e.describe();
                continue;
            }
            ASSERT_TRUE(opened) << what;
            EXPECT_EQ(inconsistencies(storage), "") << what;
            EXPECT_EQ(damage(storage), "") << what;
            // The storage goes on recording after the crash.
            EXPECT_NO_THROW(writeFrames(storage, 100, 3)) << what;
            storage.flush();
            EXPECT_EQ(damage(storage), "") << what << " after writing on";
            storage.close(true);
            ++cuts;
        }
    }
    std::printf("spilling frames: %llu writes, %u seeds, %llu power cuts run\n",
                static_cast<unsigned long long>(writes), seeds, static_cast<unsigned long long>(cuts));
}
