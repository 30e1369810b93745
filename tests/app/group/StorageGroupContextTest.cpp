#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ChildProcess.h"
#include "GroupFixture.h"

namespace {

const DateTime T0(2024, 5, 1, 10, 0, 0);

// Frames whose payload is payloadOf(ordinal), in key groups of ten.
struct Frames {
    uint64_t ordinal = 0;
    MediaElement next(std::vector<uint8_t>& bytes, uint32_t size = 900) {
        bytes = payloadOf(ordinal, size + uint32_t(ordinal % 5) * 30);
        MediaElement frame = videoFrame(0x1, uint32_t(ordinal / 10), uint16_t(ordinal % 10),
                                        T0.plusSeconds(int(ordinal / 3)), bytes);
        frame.setParam64(ordinal++);
        return frame;
    }
};

FrameCheck payloadCheck() {
    return FrameCheck{[](const MediaElement& h, const std::vector<uint8_t>& b) {
                          return b == payloadOf(h.param64(), static_cast<uint32_t>(b.size()));
                      },
                      [](const TextInElement&) { return false; }};
}

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

int statusOf(StorageGroupContext& context, const std::string& path) {
    for (const auto& [key, entry] : context.entries()) {
        if (entry.path() == path) {
            return entry.status();
        }
    }
    return -1;
}

int keyOf(StorageGroupContext& context, const std::string& path) {
    for (const auto& [key, entry] : context.entries()) {
        if (entry.path() == path) {
            return key;
        }
    }
    return -1;
}

}  // namespace

TEST(StorageGroupContextOpen, MissingLockedForeignCorruptAndBlankStoragesGetTheirStatusAndTheRestRecords) {
    TempDir dir;
    GroupOnDisk disk = makeGroup(dir, 1, 32);
    std::string missing = dir.file("missing.strg");
    std::string locked = dir.file("locked.strg");
    std::string foreign = dir.file("foreign.strg");
    std::string cut = dir.file("cut.strg");
    std::string blank = dir.file("blank.strg");
    uint64_t size = 8192 + 32ull * TestPageSize;
    StorageGroupContext::createStorageFile(locked, size, disk.repository, TestPageSize);
    StorageGroupContext::createStorageFile(foreign, size, UniqueID(), TestPageSize);
    StorageGroupContext::createStorageFile(cut, size, disk.repository, TestPageSize);
    std::filesystem::resize_file(cut, size / 2);  // the file lost its second half
    File::create(blank.c_str(), size);
    {
        StorageGroupFile file;
        ASSERT_TRUE(file.load(disk.groupPath));
        for (const std::string& path : {missing, locked, foreign, cut, blank}) {
            file.addStorageFile(path);
        }
    }
    // Another process holds one storage open for writing.
    ChildProcess writer([&] {
        FixedSizeFileStorage storage;
        if (!storage.open(locked.c_str()) || storage.isReadOnly()) {
            return 2;
        }
        ChildProcess::hold(1);
        storage.close(true);
        return 0;
    });
    ASSERT_EQ(writer.waitForReport(), 1) << "the writing process did not open its storage";
    StorageGroupContext context(disk.repository);
    ASSERT_TRUE(context.load(disk.groupPath));
    EXPECT_EQ(statusOf(context, disk.storages[0]), StorageFileEntry::Good);
    EXPECT_EQ(statusOf(context, missing), StorageFileEntry::NotFound);
    EXPECT_EQ(statusOf(context, locked), StorageFileEntry::OpenError);
    EXPECT_EQ(statusOf(context, foreign), StorageFileEntry::NotFormatted);
    EXPECT_EQ(statusOf(context, cut), StorageFileEntry::OpenError);
    EXPECT_EQ(statusOf(context, blank), StorageFileEntry::NotFormatted);
    std::map<int, StorageFileEntry> entries = context.entries();
    EXPECT_STREQ(entries.at(keyOf(context, missing)).statusText(), "Not Found");
    EXPECT_STREQ(entries.at(keyOf(context, locked)).statusText(), "Open Error");
    EXPECT_STREQ(entries.at(keyOf(context, foreign)).statusText(), "Not Formatted");
    EXPECT_EQ(entries.at(keyOf(context, cut)).fileSize(), size / 2);
    // The good storage alone makes the group, and it records.
    StorageGroup& group = context.group();
    ASSERT_EQ(group.recordingStorages().size() + group.emptyStorages().size(), 1u);
    EXPECT_EQ(group.currentStorage()->path(), disk.storages[0]);
    EXPECT_EQ(context.capacity(), size);
    Feed feed(group);
    Frames frames;
    for (int i = 0; i < 100; ++i) {
        std::vector<uint8_t> bytes;
        MediaElement frame = frames.next(bytes);
        ASSERT_TRUE(feed.write(frame));
    }
    group.flushAll();
    EXPECT_GT(context.usedBytes(), 100u * 900);
    EXPECT_TRUE(context.entries().at(keyOf(context, disk.storages[0])).recordingInterval().from().isValid());
    ReadBack back = readGroup(group, payloadCheck());
    EXPECT_EQ(back.problems, "");
    EXPECT_EQ(firstDifference(back.ids, survivorsFrom(feed.accepted, 0)), "");
    feed.recorder.detach();
    context.unload();
    writer.resume();
    EXPECT_EQ(writer.wait(), 0);
}

TEST(StorageGroupContextOpen, ReopenedInANewProcessTheGroupRecordsOnWhereItStopped) {
    TempDir dir;
    GroupOnDisk disk = makeGroup(dir, 3, 32);
    Frames frames;
    std::vector<Written> accepted;
    std::string currentPath;
    uint32_t section = 0;
    uint64_t lastID = 0;
    {
        StorageGroupContext context(disk.repository);
        ASSERT_TRUE(context.load(disk.groupPath));
        StorageGroup& group = context.group();
        SwitchLog switches;
        group.addListener(&switches);
        Feed feed(group);
        for (int i = 0; i < 5000 && switches.to.size() < 2; ++i) {
            std::vector<uint8_t> bytes;
            MediaElement frame = frames.next(bytes);
            feed.write(frame);
        }
        for (int i = 0; i < 30; ++i) {
            std::vector<uint8_t> bytes;
            MediaElement frame = frames.next(bytes);
            feed.write(frame);
        }
        ASSERT_EQ(switches.to.size(), 2u);
        group.flushAll();
        currentPath = group.currentStorage()->path();
        EXPECT_EQ(currentPath, disk.storages[2]);
        section = group.currentSectionID();
        lastID = feed.lastID;
        accepted = feed.accepted;
        EXPECT_EQ(context.file().lastStorageID(), textOf(group.currentStorage()->storageID()));
        EXPECT_EQ(context.file().lastRecordingSectionID(), section);
        group.removeListener(&switches);
        feed.recorder.detach();
        context.unload();
    }
    ChildProcess child([&] {
        StorageGroupContext context(disk.repository);
        if (!context.load(disk.groupPath)) {
            return 2;
        }
        StorageGroup& group = context.group();
        if (group.currentStorage() == nullptr || group.currentStorage()->path() != currentPath) {
            return 3;
        }
        if (group.currentSectionID() != section) {
            return 4;
        }
        Feed feed(group);
        Frames more;
        more.ordinal = frames.ordinal;
        for (int i = 0; i < 10; ++i) {
            std::vector<uint8_t> bytes;
            MediaElement frame = more.next(bytes);
            feed.write(frame);
            if (i == 0 && frame.mediaID() != lastID + 1) {
                return 5;
            }
        }
        if (feed.accepted.size() != 10 || group.currentSectionID() != section) {
            return 6;
        }
        group.flushAll();
        feed.recorder.detach();
        context.unload();
        return 0;
    });
    ASSERT_EQ(child.wait(std::chrono::seconds(30)), 0)
        << "2: no group, 3: another current storage, 4: another section, 5: media IDs do not go on, 6: frames refused";
    StorageGroupContext context(disk.repository);
    ASSERT_TRUE(context.load(disk.groupPath));
    ReadBack back = readGroup(context.group(), payloadCheck());
    EXPECT_EQ(back.problems, "");
    std::vector<uint64_t> expected = survivorsFrom(accepted, 0);
    for (uint64_t id = lastID + 1; id <= lastID + 10; ++id) {
        expected.push_back(id);
    }
    EXPECT_EQ(firstDifference(back.ids, expected), "");
    context.unload();
}

TEST(StorageGroupContextOpen, AGroupFileOfAnotherSiteOrWithoutUsableStoragesDoesNotLoad) {
    TempDir dir;
    GroupOnDisk disk = makeGroup(dir, 1, 32);
    StorageGroupContext other(UniqueID{});
    EXPECT_FALSE(other.load(disk.groupPath));
    EXPECT_FALSE(other.isLoaded());
    StorageGroupContext context(disk.repository);
    EXPECT_FALSE(context.load(dir.file("nothing.strgx")));
    std::string empty = dir.file("empty.strgx");
    StorageGroupFile file;
    ASSERT_TRUE(file.create(empty, disk.repository));
    EXPECT_FALSE(context.load(empty));  // a valid group file, but no storage to archive into
    EXPECT_TRUE(context.isLoaded());
    EXPECT_EQ(context.group().currentStorage(), nullptr);
    // While one context holds the group, another cannot load it.
    ASSERT_TRUE(context.load(disk.groupPath));
    StorageGroupContext second(disk.repository);
    EXPECT_FALSE(second.load(disk.groupPath));
    context.unload();
}

TEST(StorageGroupContextChanges, AddingRemovingAndReformattingStoragesRebuildsTheGroup) {
    TempDir dir;
    GroupOnDisk disk = makeGroup(dir, 2, 32);
    StorageGroupContext context(disk.repository);
    ASSERT_TRUE(context.load(disk.groupPath));
    {
        Feed feed(context.group());
        Frames frames;
        for (int i = 0; i < 50; ++i) {
            std::vector<uint8_t> bytes;
            MediaElement frame = frames.next(bytes);
            ASSERT_TRUE(feed.write(frame));
        }
        context.group().flushAll();
    }
    std::string added = dir.file("added.strg");
    StorageGroupContext::createStorageFile(added, 8192 + 32ull * TestPageSize, disk.repository, TestPageSize);
    ASSERT_TRUE(context.addStorageFile(added));
    EXPECT_EQ(context.file().storageFiles().size(), 3u);
    EXPECT_EQ(statusOf(context, added), StorageFileEntry::Good);
    EXPECT_EQ(context.group().emptyStorages().size(), 2u);  // the second storage and the added one
    ASSERT_TRUE(context.removeStorageFile(keyOf(context, disk.storages[1])));
    EXPECT_EQ(context.file().storageFiles(), (std::vector<std::string>{disk.storages[0], added}));
    EXPECT_EQ(statusOf(context, disk.storages[1]), -1);
    // Reformatting the storage that recorded empties it: it waits in the empty list.
    int first = keyOf(context, disk.storages[0]);
    ASSERT_TRUE(context.recreateStorageFile(first, TestPageSize));
    EXPECT_GT(keyOf(context, disk.storages[0]), first) << "keys count up with every open";
    EXPECT_EQ(statusOf(context, disk.storages[0]), StorageFileEntry::Good);
    EXPECT_TRUE(context.group().recordingStorages().size() == 1 && context.group().emptyStorages().size() == 1);
    EXPECT_FALSE(context.group().currentStorage()->hasTrack(PageType::Timeline));
    context.unload();
    // The group file lists what the changes left.
    StorageGroupFile file;
    ASSERT_TRUE(file.read(disk.groupPath));
    EXPECT_EQ(file.storageFiles(), (std::vector<std::string>{disk.storages[0], added}));
}

TEST(StorageGroupContextChanges, AReadOnlyContextLooksAtAGroupInUseWithoutChangingAByte) {
    TempDir dir;
    GroupOnDisk disk = makeGroup(dir, 2, 32);
    StorageGroupContext writer(disk.repository);
    ASSERT_TRUE(writer.load(disk.groupPath));
    {
        Feed feed(writer.group());
        Frames frames;
        for (int i = 0; i < 50; ++i) {
            std::vector<uint8_t> bytes;
            MediaElement frame = frames.next(bytes);
            ASSERT_TRUE(feed.write(frame));
        }
        writer.group().flushAll();
    }
    // The writer keeps the group loaded, idle, while the reader looks.
    std::vector<std::string> before;
    for (const std::string& path : {disk.groupPath, disk.storages[0], disk.storages[1]}) {
        before.push_back(contentOf(path));
    }
    StorageGroupContext reader;
    reader.setReadOnly(true);
    ASSERT_TRUE(reader.load(disk.groupPath));
    EXPECT_EQ(statusOf(reader, disk.storages[0]), StorageFileEntry::Good);
    EXPECT_GT(reader.usedBytes(), 50u * 900);
    ReadBack back = readGroup(reader.group(), payloadCheck());
    EXPECT_EQ(back.problems, "");
    EXPECT_EQ(back.ids.size(), 50u);
    reader.unload();
    std::vector<std::string> after;
    for (const std::string& path : {disk.groupPath, disk.storages[0], disk.storages[1]}) {
        after.push_back(contentOf(path));
    }
    EXPECT_TRUE(before == after) << "a read-only look changed a file";
    writer.unload();
}
