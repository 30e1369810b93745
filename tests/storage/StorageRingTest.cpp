#include <gtest/gtest.h>

#include <cstdlib>

#include "TrackFixture.h"
#include "storage/MediaTrackIterator.h"
#include "storage/Recorder.h"

namespace {

const DateTime T0(2024, 5, 1, 10, 0, 0);

// A frame whose payload names its ordinal: the first 8 bytes, then its low byte.
struct Frames {
    std::vector<uint8_t> bytes;
    MediaElement make(uint64_t ordinal, uint32_t size, uint32_t mask, uint32_t key, uint16_t index,
                      const DateTime& time) {
        bytes.assign(size, static_cast<uint8_t>(ordinal));
        std::memcpy(bytes.data(), &ordinal, sizeof ordinal);
        MediaElement e = videoFrame(mask, key, index, time, bytes);
        e.setParam64(ordinal);
        return e;
    }
};

bool payloadNames(const std::vector<uint8_t>& bytes, uint64_t ordinal) {
    if (bytes.size() < 8 || std::memcmp(bytes.data(), &ordinal, 8) != 0) {
        return false;
    }
    for (size_t i = 8; i < bytes.size(); ++i) {
        if (bytes[i] != static_cast<uint8_t>(ordinal)) {
            return false;
        }
    }
    return true;
}

// What the three tracks hold must agree: every timeline entry names a whole media
// element with its ID and the ordinal's bytes, the entries are the accepted frames from
// the first one on without a gap, media IDs rise, and the recording table names no media
// before the media track's first element nor after the last.
std::string disagreements(Storage& storage, const std::map<uint64_t, uint64_t>& ordinalOfID,
                          const std::vector<uint64_t>& acceptedIDs, bool payloads) {
    std::ostringstream out;
    auto entries = timelineEntries(storage);
    MediaTrackIterator media(storage, PageType::Media);
    media.toFirst();
    MediaElement first;
    uint64_t firstMediaID = media.read(first) ? first.mediaID() : 0;
    uint64_t previousID = 0;
    for (const auto& [position, entry] : entries) {
        MediaElement header;
        std::vector<uint8_t> bytes;
        if (entry.mediaID() <= previousID) {
            out << "timeline IDs do not rise at " << entry.mediaID() << "\n";
        }
        previousID = entry.mediaID();
        if (!readMedia(storage, entry.mediaPosition(), header, bytes) || header.mediaID() != entry.mediaID()) {
            out << "timeline entry " << entry.mediaID() << " names no media element\n";
            continue;
        }
        auto found = ordinalOfID.find(entry.mediaID());
        if (payloads && (found == ordinalOfID.end() || !payloadNames(bytes, found->second))) {
            out << "media " << entry.mediaID() << " has other bytes\n";
        }
    }
    if (!entries.empty()) {
        auto from = std::lower_bound(acceptedIDs.begin(), acceptedIDs.end(), entries.front().second.mediaID());
        size_t expected = static_cast<size_t>(acceptedIDs.end() - from);
        if (expected != entries.size()) {
            out << "timeline holds " << entries.size() << " entries, the newest accepted frames are " << expected
                << "\n";
        }
        if (firstMediaID == 0 || firstMediaID > entries.front().second.mediaID()) {
            out << "media starts at " << firstMediaID << " after the timeline's " << entries.front().second.mediaID()
                << "\n";
        }
    }
    uint64_t lastMediaID = 0;
    uint64_t count = 0;
    MediaElement e;
    for (media.toFirst(); media.read(e); media.next()) {
        if (e.mediaID() <= lastMediaID) {
            out << "media IDs do not rise at " << e.mediaID() << "\n";
        }
        lastMediaID = e.mediaID();
        ++count;
    }
    for (const RecordingSection& section : storage.recordingSections()) {
        if (section.firstMediaID() < firstMediaID || section.lastMediaID() > lastMediaID) {
            out << "section " << section.id() << " names media " << section.firstMediaID() << ".."
                << section.lastMediaID() << " outside " << firstMediaID << ".." << lastMediaID << "\n";
        }
    }
    RecordingTableElement last = storage.recordingTable()->lastRecord();
    if (!last.isEmpty() && (last.mediaID() < firstMediaID || last.mediaID() > lastMediaID)) {
        out << "the table's last record names media " << last.mediaID() << " that is gone\n";
    }
    return out.str();
}

struct SpaceWatch : IStorageListener {
    uint32_t lastFree = 0;
    int overwrites = 0;
    void spaceChanged(Storage&, uint32_t free, uint32_t) override {
        if (free > lastFree + 1) {
            ++overwrites;
        }
        lastFree = free;
    }
    void changeBegun(Storage&) override {}
    void changeFinished(Storage&) override {}
    void recordingSectionChanged(Storage&, uint32_t) override {}
};

}  // namespace

TEST(StorageOverwriteRing, FillingWhileASpillingFrameIsWrittenNeverSplitsTheFrame) {
    // Ten pages: three for the storage itself, a timeline page, a table page and five of
    // media, filled with frames of three quarters of a page, so nearly every frame spills
    // and the overwrite (a one-page timeline empties every track) comes in its middle.
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg", 10);
    std::map<uint64_t, uint64_t> ordinals;
    std::vector<uint64_t> accepted;
    {
        FixedSizeFileStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        Recorder recorder;
        recorder.attach(&storage, 0, false);
        Frames frames;
        for (uint64_t i = 0; i < 60; ++i) {
            MediaElement frame = frames.make(i, TestPageSize * 3 / 4, 0x1, 1, 0, T0.plusSeconds(int(i)));
            PagePosition at = recorder.write(frame);
            ordinals[frame.mediaID()] = i;
            if (at.isSet()) {
                accepted.push_back(frame.mediaID());
            }
            ASSERT_EQ(disagreements(storage, ordinals, accepted, true), "") << "after frame " << i;
        }
        storage.flush();
        ASSERT_EQ(inconsistencies(storage), "");
        recorder.detach();
        ASSERT_TRUE(storage.close(true));
    }
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    EXPECT_EQ(disagreements(storage, ordinals, accepted, true), "");
    EXPECT_EQ(inconsistencies(storage), "");
    storage.close(true);
}

TEST(StorageOverwriteRing, ThreeTimesTheCapacityKeepsTheNewestRecordingAndTheTracksAgreeAtEveryOverwrite) {
    // QUILLFEN_RING_FULL=1: a 64 MiB storage of 512 KiB pages; by default 4 MiB of 16 KiB
    // pages, the same shape at a sixteenth of the size.
    bool full = std::getenv("QUILLFEN_RING_FULL") != nullptr;
    uint32_t pageSize = full ? 524288 : TestPageSize;
    uint32_t pages = full ? 128 : 256;
    uint32_t frameSize = full ? 2000 : 600;
    TempDir dir;
    std::string path = formattedRealStorage(dir, "ring.strg", pages, pageSize);
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    SpaceWatch watch;
    watch.lastFree = storage.freePageCount();
    storage.addListener(&watch);
    Recorder recorder;
    recorder.attach(&storage, 0, false);
    Frames frames;
    std::map<uint64_t, uint64_t> ordinals;
    std::vector<uint64_t> accepted;
    uint64_t capacity = uint64_t(pages) * pageSize;
    uint64_t written = 0;
    int checked = 0;
    uint64_t lastID = 0;
    for (uint64_t i = 0; written < 3 * capacity; ++i) {
        uint32_t channel = 1u << (i % 4);
        uint16_t index = static_cast<uint16_t>((i / 4) % 10);
        uint32_t size = frameSize + static_cast<uint32_t>(i % 7) * 8;
        MediaElement frame = frames.make(i, size, channel, static_cast<uint32_t>(i / 40), index,
                                         T0.plusSeconds(static_cast<int>(i / 20)));
        int before = watch.overwrites;
        PagePosition at = recorder.write(frame);
        ASSERT_GT(frame.mediaID(), lastID);
        lastID = frame.mediaID();
        ordinals[frame.mediaID()] = i;
        if (at.isSet()) {
            accepted.push_back(frame.mediaID());
        }
        written += size + 64;
        if (watch.overwrites != before) {
            ASSERT_EQ(disagreements(storage, ordinals, accepted, false), "") << "after frame " << i;
            ++checked;
        }
    }
    EXPECT_GT(checked, 2);
    EXPECT_EQ(disagreements(storage, ordinals, accepted, true), "");
    // The newest recording is kept: the timeline ends with the last frame written and
    // reaches back more than half the storage's worth of frames.
    auto entries = timelineEntries(storage);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().second.mediaID(), lastID);
    EXPECT_GT(uint64_t(entries.size()) * (frameSize + 64 + 64), capacity / 4);
    storage.flush();
    EXPECT_EQ(inconsistencies(storage), "");
    recorder.detach();
    storage.removeListener(&watch);
    ASSERT_TRUE(storage.close(true));
    std::printf("overwrites checked: %d, frames kept: %zu\n", checked, entries.size());
}

TEST(StorageOverwriteRing, TheSpaceCheckAnswersExactlyWhetherAWriteWouldOverwrite) {
    // Frames of up to almost two pages' data: some need two fresh media pages, which
    // a check counting one page per track would wave through with a single free page.
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg", 24);
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    Recorder recorder;
    recorder.attach(&storage, 0, false);
    Frames frames;
    const uint32_t sizes[] = {200, 3000, 12000, 30000, 700};
    int refused = 0;
    for (uint64_t i = 0; i < 400; ++i) {
        MediaElement frame = frames.make(i, sizes[i % 5] + uint32_t(i % 3) * 40, 0x1, uint32_t(i / 10),
                                         uint16_t(i % 10), T0.plusSeconds(int(i)));
        bool fits = storage.hasEnoughSpace(PageType::Media, frame);
        TimelineElement first;
        bool had = StorageUtility(storage).firstItem(PageType::Timeline, first);
        uint32_t free = storage.freePageCount();
        recorder.write(frame);
        TimelineElement now;
        StorageUtility(storage).firstItem(PageType::Timeline, now);
        bool overwrote = had && now.mediaID() != first.mediaID();
        ASSERT_EQ(fits, !overwrote) << "frame " << i << " of " << frame.dataSize() << " bytes with " << free
                                    << " free pages";
        refused += fits ? 0 : 1;
    }
    EXPECT_GT(refused, 5);
    recorder.detach();
    storage.close(true);
}
