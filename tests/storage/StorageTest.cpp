#include <gtest/gtest.h>
#include <sys/stat.h>

#include "StorageFixture.h"
#include "base/Clock.h"
#include "base/IOException.h"
#include "base/TarsilException.h"
#include "base/TextOf.h"
#include "storage/MediaElement.h"
#include "storage/TextInElement.h"
#include "storage/pager/FixedSizeFreePageAllocator.h"
#include "storage/pager/TarsilFormat.h"

TEST(StorageLifecycle, ZeroFilledFileOpensFalseWithHandlesOpenThenFormats) {
    TempDir dir;
    std::string path = dir.file("zero.strg");
    File::create(path.c_str(), 8192 + 100 * uint64_t(TestPageSize));
    TestStorage storage;
    EXPECT_FALSE(storage.open(path.c_str()));
    EXPECT_TRUE(storage.isOpen());
    FormatOptions options;
    options.pageSize = TestPageSize;
    options.description = "a description longer than thirty-one characters";
    options.info = {{"Site", "North gate"}, {"Camera", "4"}};
    storage.format(options);
    EXPECT_TRUE(storage.isValid());
    EXPECT_FALSE(storage.isBroken());
    // Page 1 lists the free pages, page 2 is the journal, page 3 the first log page.
    TrackListItem item;
    ASSERT_TRUE(storage.findTrack(PageType::FreePageList, item));
    EXPECT_EQ(item.firstPage(), 1u);
    ASSERT_TRUE(storage.findTrack(PageType::Journal, item));
    EXPECT_EQ(item.firstPage(), 2u);
    EXPECT_TRUE(logHas(storage, "[FORMAT-FLAC") || logHas(storage, "[FORMAT-"));
    EXPECT_TRUE(logHas(storage, "page_size: 16384, desc: a description longer than thir"));
    std::string value;
    EXPECT_TRUE(storage.info("Site", value));
    EXPECT_EQ(value, "North gate");
    EXPECT_TRUE(storage.close(true));

    TestStorage again;
    ASSERT_TRUE(again.open(path.c_str()));
    EXPECT_EQ(again.pageCount(), 100u);
    std::map<std::string, std::string> all;
    again.infoAll(all);
    EXPECT_EQ(all.size(), 2u);
    EXPECT_EQ(all["Camera"], "4");
    EXPECT_TRUE(logHas(again, "[JOURNAL] Empty"));
    EXPECT_EQ(inconsistencies(again), "");
    EXPECT_TRUE(again.close(true));
}

TEST(StorageLifecycle, MissingFileAndCloseOfFailedOpen) {
    TempDir dir;
    TestStorage storage;
    EXPECT_FALSE(storage.open(dir.file("missing.strg").c_str()));
    EXPECT_FALSE(storage.isOpen());
    EXPECT_TRUE(storage.close(true));
    std::string path = dir.file("short.strg");
    File::create(path.c_str(), 4096);
    EXPECT_FALSE(storage.open(path.c_str()));
    EXPECT_TRUE(storage.close(true));  // handles closed cleanly
    EXPECT_FALSE(storage.isOpen());
}

TEST(StorageLifecycle, ReformatKeepsItemNumbersRising) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    TestStorage storage({&PageType::Media});
    ASSERT_TRUE(storage.open(path.c_str()));
    storage.raiseNextItemID(501);
    storage.format(FormatOptions{UniqueID(), TestPageSize, "", RecorderType::Flac, BitMask32(), {}});
    EXPECT_EQ(storage.superBlock().nextItemID(), 501u);
    MediaElement a, b;
    TextInElement t;
    storage.writeMedia(a);
    storage.writeMedia(b);
    EXPECT_EQ(a.mediaID() + 1, b.mediaID());
    EXPECT_GT(a.mediaID(), 501u);
    EXPECT_THROW(storage.writeTextIn(t), TarsilException);  // no text-in track installed
    storage.close(true);
}

TEST(StorageLifecycle, MediaTextInAndPreEventShareOneIDSequence) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    TestStorage storage({&PageType::Media, &PageType::TextIn});
    ASSERT_TRUE(storage.open(path.c_str()));
    uint64_t n = storage.nextItemID();
    MediaElement a, b;
    TextInElement t;
    storage.writeMedia(a);
    storage.writeMedia(b);
    storage.writeTextIn(t);
    EXPECT_EQ(a.mediaID(), n);
    EXPECT_EQ(b.mediaID(), n + 1);
    EXPECT_EQ(t.mediaID(), n + 2);
    storage.close(true);
}

TEST(StorageLifecycle, ReadOnlyFileOpensReadOnlyAndWritesNothing) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    std::string before = readBytes(path, 0, static_cast<uint32_t>(File::size(path.c_str())));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    TestStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    EXPECT_TRUE(storage.isReadOnly());
    storage.log("not stored", 2, true);
    EXPECT_FALSE(storage.setInfo("k", "v", true));
    EXPECT_FALSE(logHas(storage, "not stored"));
    EXPECT_TRUE(storage.close(true));
    EXPECT_EQ(readBytes(path, 0, static_cast<uint32_t>(before.size())), before);
}

TEST(StorageLifecycle, LockedFileOpensReadOnlyForASecondWriter) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    TestStorage first, second;
    ASSERT_TRUE(first.open(path.c_str()));
    EXPECT_FALSE(first.isReadOnly());
    ASSERT_TRUE(second.open(path.c_str()));
    EXPECT_TRUE(second.isReadOnly());
    second.close(false);
    first.close(true);
}

TEST(StorageTimeStamp, BasisAdvancesByWallTimeBetweenOpensAndNeverRunsBack) {
    TempDir dir;
    ManualClock clock(DateTime(2024, 5, 1, 12, 0, 0));
    std::string path = formattedStorage(dir, "a.strg");
    {
        TestStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        EXPECT_EQ(storage.timeStampBasis(), 0u);
        storage.close(true);
    }
    clock.advanceSeconds(3600);
    {
        TestStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        EXPECT_EQ(storage.timeStampBasis(), 3600u);
        EXPECT_TRUE(logHas(storage, "[OPEN] diff_time_stamp = 3600"));
        // Recording goes on; the clock is set back by a minute.
        clock.advanceSeconds(10);
        storage.flushAll();
        EXPECT_EQ(storage.timeStampBasis(), 3610u);
        clock.set(clock.now().plusSeconds(-60));
        storage.flushAll();
        clock.advanceSeconds(5);
        storage.flushAll();
        EXPECT_EQ(storage.timeStampBasis(), 3615u);
        int changes = 0;
        for (const LogTrack::Message& m : storage.logMessages()) {
            changes += m.text.rfind("[TIME CHANGE] ", 0) == 0 ? 1 : 0;
        }
        EXPECT_EQ(changes, 1) << logText(storage);
        storage.close(true);
    }
    // The stored time now lies in the future of a clock set back further.
    clock.set(DateTime(2024, 4, 1, 0, 0, 0));
    {
        TestStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        EXPECT_EQ(storage.timeStampBasis(), 3615u);
        EXPECT_TRUE(logHas(storage, "[OPEN] boot_time (")) << logText(storage);
        storage.close(true);
    }
}

TEST(StorageMigration, VersionTwoWithLegacyFreePageGainsFreeTrackAndVersionThree) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg", 32);
    uint32_t freeChecksum = 0;
    {
        // Make the file a version-2 storage whose free list is named only by the legacy
        // field: page 9 becomes the list page, the track list loses its FREE and JNAL
        // records, and copy B repeats copy A.
        PagerFile file(path);
        file.load();
        FreePageListPage list(file.superBlock, file.cache);
        list.init(PageType::FreePageList, 9, 8, 0, 0);
        list.push(FreePageListItem(1, 8));
        list.push(FreePageListItem(10, 32));
        list.save();
        freeChecksum = list.checksum();
        list.reset();
        file.superBlock.removeTrack(PageType::FreePageList);
        file.superBlock.removeTrack(PageType::Journal);
        file.superBlock.removeTrack(PageType::Log);
        file.superBlock.setVersion(2);
        file.superBlock.save();
    }
    std::string header(4, '\0');
    header[3] = 9;
    writeBytes(path, 0x044, header);
    writeBytes(path, 0x900, readBytes(path, 0x200, 0x700));
    TestStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    EXPECT_EQ(storage.superBlock().version(), 3u);
    TrackListItem item;
    ASSERT_TRUE(storage.findTrack(PageType::FreePageList, item));
    EXPECT_EQ(item.firstPage(), 9u);
    EXPECT_EQ(item.firstPageChecksum(), freeChecksum);
    EXPECT_TRUE(logHas(storage, "[MIGRATE] to ver.3")) << logText(storage);
    EXPECT_EQ(inconsistencies(storage), "");
    storage.close(true);
}

TEST(StorageOverwrite, FullStorageWithTwoPageTimelineDropsItsFirstPageAndOlderMedia) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg", 8);
    TestStorage storage({&PageType::Timeline, &PageType::Media});
    ASSERT_TRUE(storage.open(path.c_str()));
    // 8 pages: free list, journal, log; two timeline pages, three media pages.
    writeIDs(storage, PageType::Timeline, 1, PerPage * 2);
    writeIDs(storage, PageType::Media, 1, PerPage * 3 - 10);
    storage.flush();
    ASSERT_EQ(storage.freePageCount(), 0u);
    std::vector<uint32_t> timeline = pagesOf(storage, PageType::Timeline);
    ASSERT_EQ(timeline.size(), 2u);
    uint32_t page = storage.findNextWritablePageNumber(PageType::Media);
    EXPECT_EQ(page, timeline[0]);
    EXPECT_EQ(pagesOf(storage, PageType::Timeline), std::vector<uint32_t>{timeline[1]});
    // Media before the timeline's new first item (PerPage + 1) lost its first page.
    EXPECT_EQ(pagesOf(storage, PageType::Media).size(), 2u);
    EXPECT_GT(storage.freePageCount(), 0u);
    storage.close(true);
}

TEST(StorageOverwrite, FullStorageWithOnePageTimelineEmptiesEveryDataTrack) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg", 8);
    TestStorage storage({&PageType::Timeline, &PageType::Media});
    ASSERT_TRUE(storage.open(path.c_str()));
    writeIDs(storage, PageType::Timeline, 1, 5);
    writeIDs(storage, PageType::Media, 1, PerPage * 4 - 1);
    storage.flush();
    ASSERT_EQ(storage.freePageCount(), 0u);
    uint32_t page = storage.findNextWritablePageNumber(PageType::Media);
    EXPECT_NE(page, 0u);
    EXPECT_FALSE(storage.superBlock().hasTrack(PageType::Timeline));
    EXPECT_FALSE(storage.superBlock().hasTrack(PageType::Media));
    EXPECT_EQ(storage.freePageCount(), 4u);
    storage.freePageAllocator()->append(page);  // the page handed out, given back unused
    EXPECT_EQ(inconsistencies(storage), "");
    storage.close(true);
}

TEST(StorageSpace, OneFreePageIsNotEnoughWhenTwoTracksNeedOne) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg", 6);
    TestStorage storage({&PageType::Timeline, &PageType::Media});
    ASSERT_TRUE(storage.open(path.c_str()));
    writeIDs(storage, PageType::Timeline, 1, PerPage);
    writeIDs(storage, PageType::Media, 1, PerPage);
    ASSERT_EQ(storage.freePageCount(), 1u);
    EventElement e = eventWithID(PerPage + 1);
    EXPECT_FALSE(storage.hasEnoughSpace(e));
    EXPECT_FALSE(storage.hasEnoughSpace(PageType::Media, e, false));
    storage.close(true);
}

TEST(StorageRollback, RollbackToSectionCutsTheTimelineAndSetsTheNextID) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    TestStorage storage({&PageType::Timeline});
    ASSERT_TRUE(storage.open(path.c_str()));
    writeIDs(storage, PageType::Timeline, 1, 1500);
    storage.flush();
    storage.rollbackTo(4, 1000);
    EXPECT_EQ(storage.nextItemID(), 1001u);
    Page* last = storage.track(PageType::Timeline)->currentPage();
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->lastItemID(), 1000u);
    EXPECT_TRUE(logHas(storage, "[ROLLBACK] section= 4 id= 1000"));
    storage.close(true);
    TestStorage again({&PageType::Timeline});
    ASSERT_TRUE(again.open(path.c_str()));
    EXPECT_EQ(again.track(PageType::Timeline)->currentPage()->lastItemID(), 1000u);
    EXPECT_EQ(pagesOf(again, PageType::Timeline).size(), (1000 + PerPage - 1) / PerPage);
    EXPECT_EQ(inconsistencies(again), "");
    again.close(true);
}

TEST(StorageLog, LongMessageSpansChunksAndTheRingKeepsTheNewest) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg", 16, 4096);
    TestStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    std::string hundred(100, 'x');
    hundred[0] = 'A';
    storage.log(hundred.c_str(), 1, true);
    std::vector<LogTrack::Message> messages = storage.logMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().text, hundred);
    EXPECT_EQ(messages.back().level, 1);
    // A 4 KiB log page holds 62 elements; 100 more lines wrap the ring.
    for (int i = 0; i < 100; ++i) {
        storage.log(("line " + std::to_string(i)).c_str(), 2, false);
    }
    storage.flush();
    messages = storage.logMessages();
    EXPECT_LE(messages.size(), 62u);
    EXPECT_EQ(messages.back().text, "line 99");
    storage.close(true);
    TestStorage again;
    ASSERT_TRUE(again.open(path.c_str()));
    EXPECT_TRUE(logHas(again, "line 99"));
    again.close(true);
}

TEST(StorageLifecycle, ReadErrorDuringOpenPropagatesExceptForTheJournalWhichIsRecreated) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    int failures = 0;
    int recreated = 0;
    for (uint64_t n = 1; n <= 6; ++n) {
        TestStorage storage;
        bool opened = false;
        {
            PlanScope scope;
            scope.plan.failRead(n, EIO);
            try {
                opened = storage.open(path.c_str());
            } catch (const IOException&) {
                ++failures;
                EXPECT_FALSE(storage.isOpen()) << "read " << n;
            }
        }
        if (opened && logHas(storage, "[JOURNAL] page load fail (")) {
            // An unreadable journal is written again empty, with the checksum the track
            // list expects.
            ++recreated;
            EXPECT_TRUE(storage.transactionHandler()->isJournalEmpty());
            EXPECT_EQ(inconsistencies(storage), "");
        }
        storage.close(false);
        TestStorage again;
        EXPECT_TRUE(again.open(path.c_str())) << "read " << n;
        EXPECT_EQ(inconsistencies(again), "");
        again.close(true);
    }
    EXPECT_GT(failures, 0);
    EXPECT_EQ(recreated, 1);
}
