#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "PagerFixture.h"
#include "base/TarsilException.h"
#include "storage/pager/FixedSizeFreePageAllocator.h"
#include "storage/pager/FreePageList.h"

namespace {

using Intervals = std::vector<FreePageListItem>;

FreePageList listOf(const Intervals& intervals, uint32_t maxPage = FreePageList::NoLimit) {
    FreePageList list;
    list.setMaxPage(maxPage);
    for (const auto& item : intervals) {
        EXPECT_TRUE(list.add(item.first(), item.last()));
    }
    return list;
}

// Formats the allocator of `file` and replaces its stored list with `items`, on disk;
// the cache is left cold, as after a restart.
void storeList(PagerFile& file, const Intervals& items) {
    {
        FixedSizeFreePageAllocator allocator;
        allocator.format(file.superBlock, file.cache);
        FreePageListPage& page = *allocator.page();
        page.clear();
        for (const FreePageListItem& item : items) {
            page.push(item);
        }
        page.syncSaveDirty();
    }
    file.cache.clear();
}

}  // namespace

TEST(FreePageList, AddExtendsOneNeighbourAndRefusesInvalidOrOverlappingIntervals) {
    FreePageList list = listOf({{10, 20}}, 100);
    EXPECT_TRUE(list.add(5, 9));
    EXPECT_TRUE(list.add(21, 25));
    EXPECT_EQ(list.intervals(), (Intervals{{5, 25}}));
    EXPECT_FALSE(list.add(8, 12));
    EXPECT_FALSE(list.add(0, 4));
    EXPECT_FALSE(list.add(10, 5));
    EXPECT_FALSE(list.add(99, 101));
    EXPECT_EQ(list.freeCount(), 21u);

    FreePageList gap = listOf({{10, 20}, {3, 6}});
    gap.add(7, 9);  // closes the gap, but joins only one side
    EXPECT_EQ(gap.intervals(), (Intervals{{7, 20}, {3, 6}}));
    EXPECT_TRUE(gap.merge());
    EXPECT_EQ(gap.intervals(), (Intervals{{3, 20}}));
    EXPECT_EQ(gap.freeCount(), 18u);
}

TEST(FreePageList, RemoveSplitsAndTakeFirstHandsOutSmallHolesFirst) {
    FreePageList list = listOf({{5, 9}});
    EXPECT_TRUE(list.remove(7));
    EXPECT_EQ(list.intervals(), (Intervals{{5, 6}, {8, 9}}));
    EXPECT_FALSE(list.remove(7));
    EXPECT_EQ(list.freeCount(), 4u);

    FreePageList holes = listOf({{50, 90}, {3, 3}});
    holes.sort();
    EXPECT_EQ(holes.takeFirst(), 3u);
    EXPECT_EQ(holes.takeFirst(), 50u);
    EXPECT_EQ(holes.intervals(), (Intervals{{51, 90}}));
    FreePageList empty;
    EXPECT_EQ(empty.takeFirst(), 0u);
}

TEST(FixedSizeFreePageAllocator, CompactThresholdGrowsWhenNothingMergesAndShrinksWhenItDoes) {
    TempDir dir;
    PagerFile file(dir, "f.strg", 4096, 100);
    file.format(4096);
    FixedSizeFreePageAllocator allocator;
    allocator.format(file.superBlock, file.cache);
    for (uint32_t page = 3; page <= 23; page += 2) {
        allocator.extract(page);  // 11 separate holes remain... plus the tail
    }
    uint32_t count = allocator.list().intervalCount();
    ASSERT_GT(count, 10u);
    EXPECT_EQ(allocator.compact(), count);
    EXPECT_EQ(allocator.mergeThreshold(), 20u);
    EXPECT_EQ(allocator.compact(), count);  // under the new threshold: returns at once
    EXPECT_EQ(allocator.mergeThreshold(), 20u);

    for (uint32_t page = 3; page <= 23; page += 2) {
        allocator.append(page);  // every hole closes up with its neighbours
    }
    for (int i = 0; i < 10; ++i) {
        allocator.extract(30 + 2 * i);  // ten new holes: more intervals than the threshold
    }
    uint32_t before = allocator.list().intervalCount();
    ASSERT_GT(before, 20u);
    EXPECT_LT(allocator.compact(), before);
    EXPECT_EQ(allocator.mergeThreshold(), 10u);
}

TEST(FixedSizeFreePageAllocator, FormatFreesAllButTheListPageAndOpenReloadsMerged) {
    TempDir dir;
    PagerFile file(dir, "f.strg", 4096, 100);
    file.format(4096);
    FixedSizeFreePageAllocator allocator;
    allocator.format(file.superBlock, file.cache);
    EXPECT_EQ(allocator.list().intervals(), (Intervals{{2, 100}}));
    EXPECT_EQ(allocator.freePageCount(), 99u);
    TrackListItem track;
    ASSERT_TRUE(file.superBlock.findTrack(PageType::FreePageList, track));
    EXPECT_EQ(track.firstPage(), 1u);
    EXPECT_EQ(track.lastPageChecksum(), allocator.page()->checksum());

    EXPECT_EQ(allocator.takeFirst(), 2u);
    EXPECT_TRUE(allocator.isListed(2));  // on disk until its transaction extracts it
    EXPECT_FALSE(allocator.consumable(2));
    allocator.extract(2);
    EXPECT_FALSE(allocator.isListed(2));
    allocator.appendInterval(2, 2);
    allocator.extract(40);
    allocator.flush();

    FixedSizeFreePageAllocator reopened;
    file.cache.clear();
    reopened.init(file.superBlock, file.cache, true);
    EXPECT_EQ(reopened.list().intervals(), (Intervals{{2, 39}, {41, 100}}));
    EXPECT_EQ(reopened.mergeThreshold(), 10u);
    EXPECT_EQ(reopened.list().maxPage(), 100u);

    FixedSizeFreePageAllocator readOnly;
    readOnly.init(file.superBlock, file.cache, false);
    EXPECT_EQ(readOnly.freePageCount(), 0u);
}

TEST(FixedSizeFreePageAllocator, DamagedListPageIsReportedAndBadItemsDropped) {
    TempDir dir;
    PagerFile file(dir, "f.strg", 4096, 100);
    file.format(4096);
    {
        FixedSizeFreePageAllocator allocator;
        allocator.format(file.superBlock, file.cache);
        FreePageListPage& page = *allocator.page();
        page.push(FreePageListItem(0, 3));      // page 0 is never free
        page.push(FreePageListItem(90, 120));   // beyond the last page
        page.push(FreePageListItem(50, 60));    // overlaps [2 ~ 100]
        page.syncSaveDirty();
    }
    file.cache.clear();
    FixedSizeFreePageAllocator allocator;
    allocator.init(file.superBlock, file.cache, true);
    EXPECT_EQ(allocator.list().intervals(), (Intervals{{2, 100}}));
    EXPECT_EQ(allocator.page()->itemCount(), 1u);  // written back without them
    allocator.reset();

    uint64_t header = file.superBlock.pageOffset(1);
    std::string original = readBytes(file.path, header, 128);
    std::string badSize = original;
    badSize[0x10] = 7;  // item size 7 in a little-endian header
    writeBytes(file.path, header, badSize);
    file.cache.clear();
    EXPECT_THROW(allocator.init(file.superBlock, file.cache, true), TarsilException);

    std::string badCount = original;
    badCount[0x17] = 0x7F;  // item count far beyond capacity
    writeBytes(file.path, header, badCount);
    file.cache.clear();
    try {
        allocator.init(file.superBlock, file.cache, true);
        FAIL() << "a damaged list page was accepted";
    } catch (const TarsilException& e) {
        EXPECT_EQ(e.errorCode(), 4);
    }

    std::string stale = original;
    stale[0x3C] ^= 0x5A;  // a checksum the track list does not name
    writeBytes(file.path, header, stale);
    file.cache.clear();
    EXPECT_THROW(allocator.init(file.superBlock, file.cache, true), TarsilException);
}

TEST(FixedSizeFreePageAllocator, FullListPageIsRewrittenFromMemoryInsteadOfOverrun) {
    TempDir dir;
    PagerFile file(dir, "f.strg", 4096, 2000);
    file.format(4096);
    FixedSizeFreePageAllocator allocator;
    allocator.format(file.superBlock, file.cache);
    uint32_t capacity = allocator.page()->capacity();  // 496 intervals
    for (uint32_t page = 3; page < 3 + 2 * (capacity + 5); page += 2) {
        allocator.extract(page);
    }
    EXPECT_LE(allocator.page()->itemCount(), capacity);
    EXPECT_TRUE(allocator.page()->isConsistent());
    allocator.flush();
    uint32_t freeInMemory = allocator.freePageCount();

    file.cache.clear();
    FixedSizeFreePageAllocator reopened;
    reopened.init(file.superBlock, file.cache, true);
    EXPECT_LE(reopened.freePageCount(), freeInMemory);
    for (uint32_t page = 3; page < 3 + 2 * (capacity + 5); page += 2) {
        EXPECT_FALSE(reopened.consumable(page)) << page;  // used pages never come back as free
    }
}

TEST(FixedSizeFreePageAllocator, StoredIntervalsBeyondTheLastPageAreNeverHandedOut) {
    TempDir dir;
    PagerFile file(dir, "f.strg", 4096, 100);
    file.format(4096);
    storeList(file, {{2, 50}, {101, 120}});  // pages the file does not have
    FixedSizeFreePageAllocator allocator;
    allocator.init(file.superBlock, file.cache, true);
    EXPECT_EQ(allocator.list().intervals(), (Intervals{{2, 50}}));
    EXPECT_EQ(allocator.freePageCount(), 49u);
    EXPECT_FALSE(allocator.consumable(101));
}

TEST(FixedSizeFreePageAllocator, PageGivenBackBeforeItsExtractIsNotFreeAfterReuse) {
    TempDir dir;
    PagerFile file(dir, "f.strg", 4096, 100);
    file.format(4096);
    {
        FixedSizeFreePageAllocator allocator;
        allocator.format(file.superBlock, file.cache);
        // A track takes page 2 and rolls back before its flush: the page goes back while
        // the stored list still holds it.
        ASSERT_EQ(allocator.takeFirst(), 2u);
        allocator.append(2);
        // It is taken again, this time for good, and its flush extracts it.
        ASSERT_EQ(allocator.takeFirst(), 2u);
        allocator.extract(2);
        EXPECT_FALSE(allocator.isListed(2));
        allocator.flush();
    }
    file.cache.clear();
    FixedSizeFreePageAllocator reopened;
    reopened.init(file.superBlock, file.cache, true);
    EXPECT_FALSE(reopened.consumable(2));  // in use by its track: must never be handed out again
    EXPECT_EQ(reopened.freePageCount(), 98u);
}

TEST(FreePageList, AnIntervalSharingAnEndPageWithAFreeOneIsRefused) {
    FreePageList list = listOf({{5, 25}}, 100);
    EXPECT_FALSE(list.add(25, 30));
    EXPECT_FALSE(list.add(5, 5));
    EXPECT_FALSE(list.add(1, 5));
    EXPECT_FALSE(list.add(25, 25));
    EXPECT_EQ(list.intervals(), (Intervals{{5, 25}}));
    EXPECT_EQ(list.freeCount(), 21u);
    EXPECT_TRUE(list.add(26, 30));  // touching is not sharing
    EXPECT_EQ(list.intervals(), (Intervals{{5, 30}}));

    // The same from disk: the page must not be listed twice, or two tracks could get it.
    TempDir dir;
    PagerFile file(dir, "f.strg", 4096, 100);
    file.format(4096);
    storeList(file, {{5, 25}, {25, 30}, {40, 40}, {40, 40}});
    FixedSizeFreePageAllocator allocator;
    allocator.init(file.superBlock, file.cache, true);
    EXPECT_EQ(allocator.list().intervals(), (Intervals{{40, 40}, {5, 25}}));
    allocator.extract(25);
    allocator.extract(40);
    EXPECT_FALSE(allocator.consumable(25));
    EXPECT_FALSE(allocator.consumable(40));
}

TEST(FixedSizeFreePageAllocator, StoredIntervalsCoveringTheListPageAreDropped) {
    TempDir dir;
    PagerFile file(dir, "f.strg", 4096, 100);
    file.format(4096);
    storeList(file, {{1, 50}, {71, 100}});
    FixedSizeFreePageAllocator allocator;
    allocator.init(file.superBlock, file.cache, true);
    EXPECT_EQ(allocator.list().intervals(), (Intervals{{71, 100}}));
    EXPECT_EQ(allocator.takeFirst(), 71u);
    allocator.appendInterval(1, 1);  // a rollback can never make the list page free
    allocator.append(1);
    EXPECT_FALSE(allocator.consumable(1));
    EXPECT_FALSE(allocator.isListed(1));
}

TEST(FixedSizeFreePageAllocator, WritableOpenRefusesWhatItCouldNotAllocateFromSafely) {
    TempDir dir;
    PagerFile file(dir, "f.strg", 4096, 100);
    file.format(4096);
    FixedSizeFreePageAllocator allocator;
    allocator.format(file.superBlock, file.cache);
    file.superBlock.save();
    allocator.reset();
    file.cache.clear();
    auto refusedForWriting = [&]() {
        file.cache.clear();
        try {
            allocator.init(file.superBlock, file.cache, true);
        } catch (const TarsilException& e) {
            EXPECT_EQ(e.errorCode(), 4);
            allocator.init(file.superBlock, file.cache, false);  // still fine for reading
            return true;
        }
        return false;
    };
    ASSERT_FALSE(refusedForWriting());

    // A damaged "FREE" entry: the storage must not look full.
    std::string image(reinterpret_cast<const char*>(file.superBlock.image()), 4096);
    std::string damaged = image;
    damaged[0x210] = 'X';  // the type of the only track
    writeBytes(file.path, 0, damaged);
    file.load();
    EXPECT_TRUE(refusedForWriting());
    damaged = image;
    std::memset(damaged.data() + 0x218, 0, 8);  // first and last page 0
    writeBytes(file.path, 0, damaged);
    file.load();
    EXPECT_TRUE(refusedForWriting());
    damaged[0x013] = 2;  // a version 2 storage keeps its list in freePageNumber: none here
    writeBytes(file.path, 0, damaged);
    file.load();
    EXPECT_FALSE(refusedForWriting());
    EXPECT_EQ(allocator.freePageCount(), 0u);

    // Pages beyond the end of the file.
    writeBytes(file.path, 0, image);
    file.close();
    truncateFile(file.path, 4096 + 90 * 4096);
    file.open();
    file.load();
    ASSERT_TRUE(file.superBlock.isValid());
    EXPECT_TRUE(refusedForWriting());
}
