#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "GroupFixture.h"
#include "base/TarsilException.h"

namespace {

const DateTime T0(2024, 5, 1, 10, 0, 0);

// Small frames for small storages: key frames of 3 to 9 KB, the rest below 1 KB, two
// video channels and one audio channel at five frames a second, text-in every 20 s,
// four slices of five minutes with the clock set back once.
SyntheticRecordingOptions smallFrames() {
    SyntheticRecordingOptions o;
    o.seed = 11;
    o.videoChannels = 2;
    o.audioChannels = 1;
    o.framesPerSecond = 5;
    o.keyFrameInterval = 10;
    o.minFrameSize = 200;
    o.maxFrameSize = 900;
    o.minKeyFrameSize = 3000;
    o.maxKeyFrameSize = 9000;
    o.audioFrameSize = 160;
    o.sliceCount = std::getenv("QUILLFEN_GROUP_FULL") != nullptr ? 30 : 4;
    o.sliceSeconds = 300;
    o.gapSeconds = 30;
    o.clockBackSlice = 1;
    o.clockBackAfterSeconds = 120;
    o.clockBackSeconds = 60;
    o.textInEverySeconds = 20;
    return o;
}

// The members of a loaded group in the order the group file lists them.
std::vector<Storage*> membersInFileOrder(StorageGroup& group, const GroupOnDisk& disk) {
    std::vector<Storage*> all = group.recordingStorages();
    for (Storage* s : group.emptyStorages()) {
        all.push_back(s);
    }
    std::vector<Storage*> out;
    for (const std::string& path : disk.storages) {
        for (Storage* s : all) {
            if (s->path() == path) {
                out.push_back(s);
            }
        }
    }
    return out;
}

// Feeds the synthetic recording into a group and checks each frame read back against it.
struct SyntheticFeed {
    SyntheticRecording recording;
    FrameCursor cursor;
    SyntheticFrame frame;
    Feed feed;
    std::map<uint64_t, std::string> texts;
    uint64_t bytes = 0;

    SyntheticFeed(Storage& group, const SyntheticRecordingOptions& options)
        : recording(options), cursor(recording.cursorAtFirst(BitMask32(0xFFFF))), feed(group) {}
    // The next frame as the archiver hands it over; false at the end of the recording.
    bool next(MediaElement& element) {
        if (!cursor.next(frame)) {
            return false;
        }
        element = elementOf(frame);
        return true;
    }
    void write(MediaElement& element) {
        bool isText = element.mediaType() == TimelineLinkedElement::TextIn;
        feed.write(element);
        if (isText) {
            texts[element.mediaID()] = frame.textIn.text;
        }
        bytes += (isText ? 128 : 64) + uint32_t(element.dataSize()) + 64;
    }
    FrameCheck check() {
        return FrameCheck{[this](const MediaElement& h, const std::vector<uint8_t>& b) {
                              return isFrameOf(recording, h, b.data(), b.size());
                          },
                          [this](const TextInElement& t) {
                              auto found = texts.find(t.mediaID());
                              return found != texts.end() && found->second == t.text();
                          }};
    }
};

const PageType& trackOf(const MediaElement& e) {
    return e.mediaType() == TimelineLinkedElement::TextIn ? PageType::TextIn : PageType::Media;
}

}  // namespace

TEST(StorageGroupSelection, OpeningTakesTheFirstEmptyStorageOrTheNewestAndKeepsSectionIDsUnique) {
    TempDir dir;
    GroupOnDisk disk = makeGroup(dir, 3, 32);
    std::vector<FixedSizeFileStorage> storages(3);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(storages[i].open(disk.storages[i].c_str()));
    }
    {
        // Only empty storages: the first one records and joins the recording list.
        StorageGroup group;
        for (auto& s : storages) {
            group.addStorage(&s, false);
        }
        EXPECT_EQ(group.emptyStorages().size(), 3u);
        group.openGroup(std::nullopt, 0);
        EXPECT_EQ(group.currentStorage(), &storages[0]);
        EXPECT_EQ(group.recordingStorages(), std::vector<Storage*>{&storages[0]});
        EXPECT_EQ(group.emptyStorages(), (std::vector<Storage*>{&storages[1], &storages[2]}));
        // The sums count recording and empty storages.
        EXPECT_EQ(group.pageCount(), 3 * storages[0].pageCount());
        EXPECT_EQ(group.capacity(), 3 * storages[0].capacity());
        Feed feed(group);
        std::vector<uint8_t> bytes = payloadOf(1, 300);
        MediaElement frame = videoFrame(0x1, 1, 0, T0, bytes);
        ASSERT_TRUE(feed.write(frame));
        group.flushAll();
        storages[1].setRecordingSectionID(6);  // as if it had recorded up to section 6 before
        std::vector<uint8_t> more = payloadOf(2, 300);
        MediaElement second = videoFrame(0x1, 1, 0, T0, more);
        feed.recorder.attach(&storages[1], 0, false);
        ASSERT_TRUE(feed.write(second));
        storages[1].flushAll();
        feed.recorder.detach();
        for (auto& s : storages) {
            group.eraseStorage(&s);
        }
    }
    {
        // Recording storages: the one with the newest section records. The group file
        // naming another storage as the last one moves its section past the file's.
        StorageGroup group;
        for (auto& s : storages) {
            group.addStorage(&s, false);
        }
        group.openGroup(storages[0].storageID(), 5);
        EXPECT_EQ(group.currentStorage(), &storages[1]);
        EXPECT_EQ(storages[1].currentSectionID(), 7u);
        for (auto& s : storages) {
            group.eraseStorage(&s);
        }
        StorageGroup again;
        for (auto& s : storages) {
            again.addStorage(&s, false);
        }
        again.openGroup(storages[0].storageID(), 0);  // no section in the file: nothing changes
        EXPECT_EQ(storages[1].currentSectionID(), 7u);
        again.openGroup(storages[1].storageID(), 7);  // the same storage: nothing changes
        EXPECT_EQ(storages[1].currentSectionID(), 7u);
        for (auto& s : storages) {
            again.eraseStorage(&s);
        }
    }
    {
        // Only auxiliary storages: the newest records and stays auxiliary; the sums count
        // auxiliary storages because nothing else is there.
        StorageGroup group;
        for (auto& s : storages) {
            group.addStorage(&s, true);
        }
        group.openGroup(std::nullopt, 0);
        EXPECT_EQ(group.currentStorage(), &storages[1]);
        EXPECT_EQ(group.auxiliaryStorages().size(), 3u);
        EXPECT_TRUE(group.recordingStorages().empty());
        EXPECT_EQ(group.pageCount(), 3 * storages[0].pageCount());
        for (auto& s : storages) {
            group.eraseStorage(&s);
        }
        StorageGroup mixed;
        mixed.addStorage(&storages[0], true);
        mixed.addStorage(&storages[1], true);
        mixed.addStorage(&storages[2], false);
        EXPECT_EQ(mixed.pageCount(), storages[2].pageCount());
        EXPECT_EQ(mixed.capacity(), storages[2].capacity());
        for (auto& s : storages) {
            mixed.eraseStorage(&s);
        }
    }
    {
        StorageGroup group;
        group.openGroup(std::nullopt, 0);
        EXPECT_EQ(group.currentStorage(), nullptr);
        MediaElement e;
        EXPECT_FALSE(group.hasEnoughSpace(e));
        EXPECT_THROW(group.writeMedia(e), TarsilException);
    }
    for (auto& s : storages) {
        s.close(true);
    }
}

TEST(StorageGroupRing, FiveTimesItsCapacityKeepsTheNewestRecordingWholeAndReadsBackAcrossStorages) {
    // Three storages of 32 pages by default; QUILLFEN_GROUP_FULL=1 makes them 400 pages.
    bool full = std::getenv("QUILLFEN_GROUP_FULL") != nullptr;
    TempDir dir;
    GroupOnDisk disk = makeGroup(dir, 3, full ? 400 : 32);
    StorageGroupContext context(disk.repository);
    ASSERT_TRUE(context.load(disk.groupPath));
    StorageGroup& group = context.group();
    std::vector<Storage*> members = membersInFileOrder(group, disk);
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(group.currentStorage(), members[0]);
    // Every switch carries the section and the media IDs on, and the group file follows.
    SwitchLog switches;
    uint32_t sectionBefore = 0;
    uint64_t nextIDBefore = 0;
    std::string switchProblems;
    struct Before : IStorageGroupListener {
        std::function<void()> run;
        void recordingStorageChanging(StorageGroup&) override { run(); }
        void recordingStorageChanged(Storage&) override {}
    } before;
    before.run = [&] {
        sectionBefore = group.currentSectionID();
        nextIDBefore = group.nextItemID();
    };
    switches.onChanged = [&](Storage& current) {
        std::ostringstream out;
        if (current.currentSectionID() != sectionBefore + 1) {
            out << "switch " << switches.to.size() << ": section " << current.currentSectionID() << " after "
                << sectionBefore << "\n";
        }
        if (current.nextItemID() < nextIDBefore) {
            out << "switch " << switches.to.size() << ": next media ID " << current.nextItemID() << " below "
                << nextIDBefore << "\n";
        }
        StorageGroupFile onDisk;
        if (!onDisk.read(disk.groupPath) || onDisk.lastStorageID() != textOf(current.storageID()) ||
            onDisk.lastRecordingSectionID() != current.currentSectionID()) {
            out << "switch " << switches.to.size() << ": the group file names " << onDisk.lastStorageID() << " / "
                << onDisk.lastRecordingSectionID() << "\n";
        }
        switchProblems += out.str();
    };
    group.addListener(&before);
    group.addListener(&switches);
    SyntheticFeed feed(group, smallFrames());
    uint64_t capacity = group.capacity();
    uint32_t lastSection = 0;
    MediaElement element;
    while (feed.bytes < 5 * capacity && feed.next(element)) {
        feed.write(element);
        uint32_t section = group.currentSectionID();
        ASSERT_GE(section, lastSection);
        lastSection = section;
    }
    ASSERT_GE(feed.bytes, 5 * capacity) << "the recording is too short for five times the capacity";
    group.flushAll();
    EXPECT_EQ(feed.feed.problem, "");
    EXPECT_EQ(switchProblems, "");
    // Sections begun inside a storage (the clock set back) reach the group file too.
    EXPECT_EQ(context.file().lastRecordingSectionID(), group.currentSectionID());
    // Empty storages in order, then always the one holding the oldest section.
    ASSERT_GE(switches.to.size(), 12u);
    for (size_t i = 0; i < switches.to.size(); ++i) {
        EXPECT_EQ(switches.to[i], members[(i + 1) % 3]) << "switch " << i;
    }
    uint64_t firstID = firstSurvivingID(group);
    std::vector<uint64_t> expected = survivorsFrom(feed.feed.accepted, firstID);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected.back(), feed.feed.accepted.back().mediaID);
    EXPECT_GT(expected.size(), feed.feed.accepted.size() / 10);
    ReadBack forwards = readGroup(group, feed.check());
    EXPECT_EQ(forwards.problems, "");
    EXPECT_EQ(firstDifference(forwards.ids, expected), "");
    EXPECT_GE(forwards.storageChanges, 2);
    EXPECT_TRUE(std::is_sorted(forwards.sections.begin(), forwards.sections.end()));
    ReadBack backwards = readGroup(group, feed.check(), true);
    std::reverse(backwards.ids.begin(), backwards.ids.end());
    EXPECT_EQ(backwards.problems, "");
    EXPECT_EQ(firstDifference(backwards.ids, withinStorageGroups(forwards)), "");
    std::printf("ring: %zu switches, %zu frames accepted, %zu survive, read across %d storage changes\n",
                switches.to.size(), feed.feed.accepted.size(), expected.size(), forwards.storageChanges);
    group.removeListener(&switches);
    group.removeListener(&before);
    feed.feed.recorder.detach();
    EXPECT_TRUE(group.closeGroup(true));
}

TEST(StorageGroupRing, WithOverwriteOffWritingStopsAtTheFirstFrameThatDoesNotFitAndKeepsEverything) {
    TempDir dir;
    GroupOnDisk disk = makeGroup(dir, 3, 48);
    StorageGroupContext context(disk.repository);
    ASSERT_TRUE(context.load(disk.groupPath));
    StorageGroup& group = context.group();
    group.setOverwrite(false);
    SwitchLog switches;
    group.addListener(&switches);
    SyntheticFeed feed(group, smallFrames());
    MediaElement element;
    bool refused = false;
    uint64_t writes = 0;
    while (!refused && feed.next(element)) {
        bool fits = group.hasEnoughSpace(trackOf(element), element);
        if (element.mediaType() != TimelineLinkedElement::TextIn) {
            ASSERT_EQ(group.hasEnoughSpace(element), fits);
        }
        uint64_t nextID = group.nextItemID();
        try {
            feed.write(element);
            ASSERT_TRUE(fits) << "a frame was written that the space check refused, write " << writes;
            ++writes;
        } catch (const TarsilException& e) {
            EXPECT_EQ(e.errorCode(), 1) << e.describe();
            EXPECT_FALSE(fits);
            EXPECT_EQ(group.nextItemID(), nextID) << "the refused frame took an ID";
            refused = true;
        }
    }
    ASSERT_TRUE(refused) << "the recording ended before the group was full";
    EXPECT_EQ(switches.to.size(), 2u);
    uint64_t last = 0;
    ASSERT_TRUE(group.lastTimelineItemID(last));
    EXPECT_EQ(last, feed.feed.accepted.back().mediaID);
    group.flushAll();
    EXPECT_EQ(firstSurvivingID(group), feed.feed.accepted.front().mediaID) << "something was overwritten";
    ReadBack back = readGroup(group, feed.check());
    EXPECT_EQ(back.problems, "");
    EXPECT_EQ(firstDifference(back.ids, survivorsFrom(feed.feed.accepted, 0)), "");
    group.removeListener(&switches);
    feed.feed.recorder.detach();
    EXPECT_TRUE(group.closeGroup(true));
}

TEST(StorageGroupReading, InterleavedSectionsAreReadOnceInSectionOrderAcrossStorages) {
    // Two storages of 32 pages: sections 1 and 2 in the first, 3 and 4 in the second
    // (the clock goes back inside each), then 5 in the first again, which gives up its
    // oldest pages for it.
    TempDir dir;
    GroupOnDisk disk = makeGroup(dir, 2, 32);
    StorageGroupContext context(disk.repository);
    ASSERT_TRUE(context.load(disk.groupPath));
    StorageGroup& group = context.group();
    SwitchLog switches;
    group.addListener(&switches);
    Feed feed(group);
    uint64_t ordinal = 0;
    int second = 0;
    auto write = [&](int frames) {
        for (int i = 0; i < frames; ++i, ++ordinal) {
            std::vector<uint8_t> bytes = payloadOf(ordinal, 900 + uint32_t(ordinal % 7) * 20);
            MediaElement frame =
                videoFrame(0x1, uint32_t(ordinal / 10), uint16_t(ordinal % 10), T0.plusSeconds(second), bytes);
            frame.setParam64(ordinal);
            feed.write(frame);
            if (ordinal % 3 == 2) {
                ++second;
            }
        }
    };
    auto until = [&](size_t switched) {
        for (int i = 0; i < 5000 && switches.to.size() < switched; ++i) {
            write(1);
        }
    };
    write(150);
    second -= 600;  // the clock goes back: section 2
    until(1);
    ASSERT_EQ(group.currentSectionID(), 3u);
    write(150);
    second -= 600;  // section 4
    until(2);
    ASSERT_EQ(group.currentSectionID(), 5u);
    write(40);
    group.flushAll();
    std::vector<Storage*> members = membersInFileOrder(group, disk);
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[0]->recordingTable()->sectionIDs(), (std::set<uint32_t>{2, 5}));
    EXPECT_EQ(members[1]->recordingTable()->sectionIDs(), (std::set<uint32_t>{3, 4}));
    FrameCheck check{[](const MediaElement& h, const std::vector<uint8_t>& b) {
                         return b == payloadOf(h.param64(), static_cast<uint32_t>(b.size()));
                     },
                     [](const TextInElement&) { return false; }};
    ReadBack back = readGroup(group, check);
    EXPECT_EQ(back.problems, "");
    EXPECT_EQ(back.sections, (std::vector<uint32_t>{2, 3, 4, 5}));
    EXPECT_EQ(firstDifference(back.ids, survivorsFrom(feed.accepted, firstSurvivingID(group))), "");
    ReadBack backwards = readGroup(group, check, true);
    EXPECT_EQ(backwards.sections, (std::vector<uint32_t>{5, 4, 3, 2}));
    std::reverse(backwards.ids.begin(), backwards.ids.end());
    EXPECT_EQ(firstDifference(backwards.ids, withinStorageGroups(back)), "");
    // Seeking to a section positions at its beginning in whichever storage holds it.
    MultiResultSet rs(group);
    ASSERT_TRUE(rs.initToBegin(&group, false));
    ASSERT_TRUE(rs.seekToSection(4));
    ResultSet::Elements out;
    PagePosition at;
    ASSERT_TRUE(rs.next(BitMask32(0x1), out, at));
    EXPECT_EQ(rs.storage(), members[1]);
    EXPECT_EQ(rs.currentSectionID(), 4u);
    RecordingSection four;
    ASSERT_TRUE(members[1]->recordingTable()->section(4, four));
    EXPECT_EQ(out.back().mediaID(), four.firstMediaID());
    group.removeListener(&switches);
    feed.recorder.detach();
    EXPECT_TRUE(group.closeGroup(true));
}

TEST(StorageGroupReading, AReaderOnAnotherThreadFollowsTheRecordingAcrossSwitchesWhileItIsWritten) {
    TempDir dir;
    GroupOnDisk disk = makeGroup(dir, 3, 32);
    StorageGroupContext context(disk.repository);
    ASSERT_TRUE(context.load(disk.groupPath));
    StorageGroup& group = context.group();
    SwitchLog switches;
    group.addListener(&switches);
    std::atomic<bool> done{false};
    std::atomic<uint64_t> written{0};
    std::vector<Written> accepted;
    std::thread writer([&] {
        Feed feed(group);
        uint64_t ordinal = 0;
        // Until the third storage records; no storage is overwritten.
        while (switches.to.size() < 2 || ordinal % 10 != 9) {
            std::vector<uint8_t> bytes = payloadOf(ordinal, 900 + uint32_t(ordinal % 7) * 20);
            MediaElement frame =
                videoFrame(0x1, uint32_t(ordinal / 10), uint16_t(ordinal % 10), T0.plusSeconds(int(ordinal / 3)), bytes);
            frame.setParam64(ordinal++);
            feed.write(frame);
            written = feed.accepted.size();
        }
        accepted = feed.accepted;
        feed.recorder.detach();
        done = true;
    });
    MultiResultSet rs(group);
    std::vector<uint64_t> read;
    std::string problem;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool begun = false;
    while (std::chrono::steady_clock::now() < until && problem.empty() && (!done || read.size() < written)) {
        if (!begun) {
            begun = rs.initToBegin(&group, false);
            std::this_thread::yield();
            continue;
        }
        ResultSet::Elements out;
        PagePosition at;
        if (!rs.next(BitMask32(0x1), out, at)) {
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
            std::vector<uint8_t> bytes(parts[0], parts[0] + lengths[0]);
            bytes.insert(bytes.end(), parts[1], parts[1] + lengths[1]);
            if (bytes != payloadOf(header.param64(), static_cast<uint32_t>(bytes.size()))) {
                problem = "frame " + std::to_string(e.mediaID()) + " has other bytes";
            }
            read.push_back(e.mediaID());
        }
    }
    writer.join();
    EXPECT_EQ(problem, "");
    EXPECT_EQ(switches.to.size(), 2u);
    EXPECT_EQ(firstDifference(read, survivorsFrom(accepted, 0)), "") << "within 30 s";
    group.removeListener(&switches);
    context.unload();
}
