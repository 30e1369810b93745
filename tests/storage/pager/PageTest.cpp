#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "CrashSweep.h"
#include "PagerFixture.h"
#include "base/IOException.h"
#include "base/TarsilException.h"
#include "storage/pager/CircularPage.h"
#include "storage/pager/FreePageListItem.h"
#include "storage/pager/MemoryPool.h"
#include "storage/pager/Page.h"

namespace {

constexpr uint32_t PageSize = 65536;

struct CountingMonitor : IPageCacheMonitor {
    int before = 0;
    int after = 0;
    void beforeWrite(Page&, bool) override { ++before; }
    void afterWrite(Page&, bool) override { ++after; }
};

std::string pageBytes(PagerFile& file, uint32_t page, uint32_t offset, uint32_t length) {
    return readBytes(file.path, file.superBlock.pageOffset(page) + offset, length);
}

class PageModes : public ::testing::TestWithParam<StorageDevice::DirectIO> {
protected:
    void SetUp() override { StorageDevice::setDirectIO(GetParam()); }
    void TearDown() override { StorageDevice::setDirectIO(StorageDevice::DirectIO::Auto); }
};

}  // namespace

TEST(MemoryPool, BlocksAreAlignedNeverSmallerThanAskedAndRecycled) {
    void* small = MemoryPool::allocate(4096);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(small) % 4096, 0u);
    EXPECT_EQ(MemoryPool::blockSize(small), 524288u);
    MemoryPool::free(small);
    uint32_t created = MemoryPool::createdCount();
    void* again = MemoryPool::allocate(524288);
    EXPECT_EQ(again, small);
    EXPECT_EQ(MemoryPool::createdCount(), created);

    void* large = MemoryPool::allocate(1048576);  // a free 512 KiB block must not do
    EXPECT_NE(large, again);
    EXPECT_GE(MemoryPool::blockSize(large), 1048576u);
    MemoryPool::free(large);
    MemoryPool::free(again);
    EXPECT_EQ(MemoryPool::allocate(1000000), large);
    MemoryPool::free(large);
}

TEST_P(PageModes, SavedPageLoadsBackWhole) {
    TempDir dir;
    PagerFile file(dir, "p.strg", PageSize, 8);
    file.format(PageSize);
    Page page(file.superBlock, file.cache);
    page.init(PageType::Media, 3, 16, 2, 1234);
    page.buffer().fillAt(200, 'm', PageSize - 200);
    page.setItemCount(7);
    uint32_t checksum = page.checksum();
    page.save();
    page.reset();
    file.cache.clear();

    Page reader(file.superBlock, file.cache);
    reader.loadForRead(3);
    EXPECT_TRUE(reader.type().equals(PageType::Media));
    EXPECT_EQ(reader.checksum(), checksum);
    EXPECT_NE(checksum, Page::InvalidPageChecksum);
    EXPECT_EQ(reader.previous(), 2u);
    EXPECT_EQ(reader.previousChecksum(), 1234u);
    EXPECT_EQ(reader.superChecksum(), file.superBlock.checksum());
    EXPECT_EQ(reader.itemCount(), 7u);
    EXPECT_EQ(reader.firstItemOffset(), 128u);
    EXPECT_EQ(reader.buffer().getByteAt(PageSize - 1), 'm');

    Page header(file.superBlock, file.cache);
    header.loadHeader(3, true);
    EXPECT_TRUE(header.isHeaderOnly());
    EXPECT_EQ(header.checksum(), checksum);
}

INSTANTIATE_TEST_SUITE_P(DirectAndBuffered, PageModes,
                         ::testing::Values(StorageDevice::DirectIO::Auto, StorageDevice::DirectIO::Never));

TEST(Page, SyncSaveDirtyWritesOnlyChangedBlocksHeaderLast) {
    TempDir dir;
    PagerFile file(dir, "p.strg", PageSize, 8);
    file.format(PageSize);
    uint32_t block = file.superBlock.ioBlockSize();
    Page page(file.superBlock, file.cache);
    page.init(PageType::Media, 2, 16, 0, 0);
    page.save();

    PlanScope scope;
    page.setItemCount(1);
    page.syncSaveDirty();
    EXPECT_EQ(scope.plan.writeCount(), 1u);  // the header block alone, no barrier needed
    EXPECT_EQ(scope.plan.barrierCount(), 0u);

    page.syncSaveDirty();  // clean: nothing
    EXPECT_EQ(scope.plan.writeCount(), 1u);

    page.buffer().fillAt(5 * block + 10, 'a', 4);
    page.buffer().fillAt(9 * block, 'b', block + 1);  // spans two blocks
    page.setItemCount(2);
    page.syncSaveDirty();
    EXPECT_EQ(scope.plan.writeCount(), 4u);  // two data ranges, then the header
    EXPECT_EQ(scope.plan.barrierCount(), 1u);
    EXPECT_EQ(pageBytes(file, 2, 9 * block, block + 1), std::string(block + 1, 'b'));
}

TEST(Page, PowerCutAtTheHeaderWriteNeverLosesTheDataItDescribes) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        TempDir dir;
        PagerFile file(dir, "p.strg", PageSize, 8);
        file.format(PageSize);
        uint32_t block = file.superBlock.ioBlockSize();
        Page page(file.superBlock, file.cache);
        page.init(PageType::Media, 2, 16, 0, 0);
        page.save();
        AIOContext::instance().barrier(file.writeHandle);

        PlanScope scope;
        scope.plan.cutPowerAtWrite(2, seed);  // the data write goes, the power fails at the header
        page.buffer().fillAt(3 * block, 'd', block);
        page.setItemCount(1);
        page.syncSaveDirty();
        EXPECT_EQ(pageBytes(file, 2, 3 * block, block), std::string(block, 'd')) << "seed " << seed;
        Page header(file.superBlock, file.cache);
        header.loadHeader(2, true);
        EXPECT_EQ(header.itemCount(), 0u);
    }
}

TEST(Page, ReadOnlyPageWritesNothingButStillNotifiesAndForgetsChanges) {
    TempDir dir;
    PagerFile file(dir, "p.strg", PageSize, 8);
    file.format(PageSize);
    CountingMonitor monitor;
    file.cache.bind(file.superBlock, &monitor);
    Page page(file.superBlock, file.cache);
    page.loadForRead(4);
    PlanScope scope;
    page.setItemCount(3);
    page.save();
    EXPECT_EQ(scope.plan.writeCount(), 0u);
    EXPECT_EQ(monitor.before, 1);
    EXPECT_EQ(monitor.after, 1);
    EXPECT_TRUE(page.buffer().isClean());
}

TEST(Page, DeviceErrorsCarryTheRequestAndReturnEveryBlock) {
    TempDir dir;
    PagerFile file(dir, "p.strg", PageSize, 8);
    file.format(PageSize);
    uint32_t freeBefore = MemoryPool::freeCount();
    uint32_t createdBefore = MemoryPool::createdCount();
    {
        Page page(file.superBlock, file.cache);
        page.init(PageType::Media, 5, 16, 0, 0);
        PlanScope scope;
        scope.plan.failWrite(1, EIO);
        try {
            page.save();
            FAIL() << "save reported success";
        } catch (const IOException& e) {
            EXPECT_EQ(e.errorCode(), EIO);
            EXPECT_EQ(e.handle(), file.writeHandle);
            EXPECT_EQ(e.offset(), file.superBlock.pageOffset(5) + file.superBlock.ioBlockSize());
            EXPECT_EQ(e.length(), PageSize - file.superBlock.ioBlockSize());
        }
        scope.plan.failRead(1, ENOSPC);
        Page header(file.superBlock, file.cache);
        EXPECT_THROW(header.loadHeader(6, true), IOException);
        EXPECT_FALSE(header.isLoaded());
        scope.plan.failRead(2, EIO);
        Page reader(file.superBlock, file.cache);
        EXPECT_THROW(reader.loadForRead(7), IOException);
    }
    file.cache.clear();
    EXPECT_EQ(MemoryPool::freeCount() - freeBefore, MemoryPool::createdCount() - createdBefore);
}

TEST(Page, FailedInitializerReturnsTheNewBlock) {
    struct Failing : IPageInitializer {
        void initialize(Page&) override { throw TarsilException(QF_HERE, 1, "Not enough space"); }
    } failing;
    TempDir dir;
    PagerFile file(dir, "p.strg", PageSize, 8);
    file.format(PageSize);
    uint32_t inUse = MemoryPool::createdCount() - MemoryPool::freeCount();
    {
        Page page(file.superBlock, file.cache);
        EXPECT_THROW(page.init(PageType::Media, 3, 16, 0, 0, &failing), TarsilException);
        EXPECT_FALSE(page.isLoaded());
    }
    file.cache.clear();
    EXPECT_EQ(MemoryPool::createdCount() - MemoryPool::freeCount(), inUse);
}

TEST(Page, HeaderAfterDataOfAnEarlierWriteBackWaitsForABarrier) {
    TempDir dir;
    PagerFile file(dir, "p.strg", PageSize, 8);
    file.format(PageSize);
    uint32_t block = file.superBlock.ioBlockSize();
    Page page(file.superBlock, file.cache);
    page.init(PageType::Media, 2, 16, 0, 0);
    page.save();

    PlanScope scope;
    page.buffer().fillAt(3 * block, 'd', block);  // data only: the header is unchanged
    page.syncSaveDirty();
    EXPECT_EQ(scope.plan.writeCount(), 1u);
    page.setItemCount(1);  // now the header describes that data
    page.syncSaveDirty();
    EXPECT_EQ(scope.plan.writeCount(), 2u);
    EXPECT_EQ(scope.plan.barrierCount(), 1u);
}

TEST(CircularPage, RingWrapsAtCapacityAndEmptiesToAResetHeader) {
    TempDir dir;
    PagerFile file(dir, "c.strg", 4096, 8);
    file.format(4096);
    CircularPage ring(file.superBlock, file.cache);
    ring.init(PageType::FreePageList, 1, 24, 0, 0);
    EXPECT_EQ(ring.capacity(), 165u);
    EXPECT_EQ(ring.nextOffset(128 + 163 * 24), 128u + 164 * 24);
    EXPECT_EQ(ring.nextOffset(128 + 164 * 24), 128u);

    ring.setItemSize(8);  // free-list items from here on
    for (uint32_t i = 1; i <= ring.capacity(); ++i) {
        ring.push(FreePageListItem(i, i));
    }
    EXPECT_TRUE(ring.isFull());
    EXPECT_THROW(ring.push(FreePageListItem(999, 999)), TarsilException);
    ring.popFront();
    ring.popFront();
    ring.push(FreePageListItem(1000, 1000));  // wraps to the data start
    FreePageListItem item;
    ring.readItem(ring.itemCount() - 1, item);
    EXPECT_EQ(item.first(), 1000u);
    ring.front(item);
    EXPECT_EQ(item.first(), 3u);
    EXPECT_TRUE(ring.isConsistent());

    ring.clear();
    ring.push(FreePageListItem(5, 6));
    ring.popFront();
    EXPECT_EQ(ring.itemCount(), 0u);
    EXPECT_EQ(ring.firstItemOffset(), 128u);
    EXPECT_EQ(ring.lastItemOffset(), 128u);

    ring.setItemSize(0);  // as a damaged header would say
    EXPECT_EQ(ring.capacity(), 0u);
    EXPECT_FALSE(ring.isConsistent());
}

namespace {

// A page whose header and data are recognisable on disk: item count `round`, every data
// byte `round`.
void fillPage(Page& page, uint8_t round) {
    page.setItemCount(round);
    page.buffer().fillAt(Page::IndexData, round, PageSize - Page::IndexData);
}

// The item count in page `number`'s header on disk, and whether its data bytes all read
// `fill`.
uint32_t headerCountOnDisk(PagerFile& file, uint32_t number) {
    std::string header = pageBytes(file, number, 0, 128);
    uint32_t count;
    std::memcpy(&count, header.data() + 0x14, 4);  // a little-endian host formatted it
    return count;
}

bool dataOnDiskIs(PagerFile& file, uint32_t number, uint8_t fill) {
    uint32_t block = file.superBlock.ioBlockSize();
    std::string data = pageBytes(file, number, block, PageSize - block);
    return data == std::string(data.size(), static_cast<char>(fill));
}

}  // namespace

TEST(Page, WholePageSavesNeverLeaveAHeaderWithoutItsDataAfterAPowerCut) {
    uint32_t cuts = sweepPowerCuts("whole-page saves", 10, true, [](Cut& cut) {
        TempDir dir;
        PagerFile file(dir, "p.strg", PageSize, 8);
        file.format(PageSize);
        cut.arm();
        // Three whole pages, then a write that has nothing to do with them.
        for (uint32_t number = 2; number <= 4; ++number) {
            Page page(file.superBlock, file.cache);
            page.init(PageType::Media, number, 16, 0, 0);
            fillPage(page, static_cast<uint8_t>(number));
            page.save();
        }
        Page other(file.superBlock, file.cache);
        other.init(PageType::Media, 6, 16, 0, 0);
        other.buffer().fillAt(Page::IndexData + 4096, 'x', 4096);
        other.syncSaveDirty();
        if (!cut.powerWasCut()) {
            return;
        }
        for (uint32_t number = 2; number <= 4; ++number) {
            if (headerCountOnDisk(file, number) == number) {
                EXPECT_TRUE(dataOnDiskIs(file, number, static_cast<uint8_t>(number)))
                    << "page " << number << ": header on disk without its data, cut at " << cut.describe();
            }
        }
    });
    EXPECT_GE(cuts, 8u * 10 + 4u * 10);  // eight writes and four barriers
}

TEST(Page, HeaderWrittenThroughAnotherPageObjectWaitsForTheDataOfThatPage) {
    for (uint32_t seed = 1; seed <= 10; ++seed) {
        TempDir dir;
        PagerFile file(dir, "p.strg", PageSize, 8);
        file.format(PageSize);
        uint32_t block = file.superBlock.ioBlockSize();
        {
            Page page(file.superBlock, file.cache);
            page.init(PageType::Media, 2, 16, 0, 0);
            page.save();
        }
        AIOContext::instance().barrier(file.writeHandle);

        PlanScope scope;
        Page track(file.superBlock, file.cache);
        track.loadForWrite(2);
        track.buffer().fillAt(3 * block, 'd', block);
        track.syncSaveDirty();  // data only: the header goes through the journal's page
        Page journal(file.superBlock, file.cache);
        journal.loadHeaderForWrite(2);
        journal.setItemCount(1);
        journal.saveHeader();
        scope.plan.cutPowerAtWrite(scope.plan.writeCount() + 1, seed);
        Page other(file.superBlock, file.cache);
        other.init(PageType::Media, 5, 16, 0, 0);
        other.syncSaveDirty();
        ASSERT_TRUE(scope.plan.powerIsCut());
        if (headerCountOnDisk(file, 2) == 1) {
            EXPECT_EQ(pageBytes(file, 2, 3 * block, block), std::string(block, 'd')) << "seed " << seed;
        }
    }
}

TEST(Page, AfterAFailedBarrierNoHeaderClaimsTheDataItLost) {
    TempDir dir;
    PagerFile file(dir, "p.strg", PageSize, 8);
    file.format(PageSize);
    uint32_t block = file.superBlock.ioBlockSize();
    PlanScope scope;

    // The barrier inside the save fails: the header is not written and the page keeps
    // its changes, so that a second save writes the data again.
    Page page(file.superBlock, file.cache);
    page.init(PageType::Media, 2, 16, 0, 0);
    fillPage(page, 7);
    scope.plan.failBarrier(1);
    EXPECT_THROW(page.save(), IOException);
    EXPECT_EQ(scope.plan.writeCount(), 1u);
    EXPECT_TRUE(page.hasUnsavedChanges());
    page.save();
    EXPECT_EQ(scope.plan.writeCount(), 3u);
    EXPECT_EQ(headerCountOnDisk(file, 2), 7u);

    // Data written back alone, then a barrier of the file fails: a header of that page,
    // through any Page object, would describe data that may be gone.
    page.buffer().fillAt(4 * block, 'e', block);
    page.syncSaveDirty();
    scope.plan.failBarrier(scope.plan.barrierCount() + 1);
    EXPECT_THROW(AIOContext::instance().barrier(file.writeHandle), IOException);
    AIOContext::instance().barrier(file.writeHandle);  // a later barrier brings nothing back
    uint64_t writes = scope.plan.writeCount();
    Page header(file.superBlock, file.cache);
    header.loadHeaderForWrite(2);
    header.setItemCount(8);
    EXPECT_THROW(header.saveHeader(), IOException);
    page.setItemCount(8);
    EXPECT_THROW(page.syncSaveDirty(), IOException);
    EXPECT_EQ(scope.plan.writeCount(), writes);
    EXPECT_EQ(headerCountOnDisk(file, 2), 7u);

    // Writing the whole page again is what makes its header writable again.
    page.save();
    EXPECT_EQ(headerCountOnDisk(file, 2), 8u);
    header.saveHeader();
}

TEST(Page, NewContentIsZerosWhateverTheRecycledBlockHeld) {
    TempDir dir;
    PagerFile file(dir, "p.strg", PageSize, 8);
    file.format(PageSize);
    // Leave a block full of another page's bytes on the pool's free list.
    void* used = MemoryPool::allocate(PageSize);
    std::memset(used, 0xEE, MemoryPool::blockSize(used));
    MemoryPool::free(used);

    Page page(file.superBlock, file.cache);
    page.init(PageType::Media, 3, 16, 0, 0);
    ASSERT_EQ(static_cast<void*>(page.data()), used);
    page.writeItem(0, FreePageListItem(0x01010101, 0x02020202));
    page.save();

    std::string image = pageBytes(file, 3, 0, PageSize);
    EXPECT_EQ(image.substr(0x34, 8), std::string(8, '\0'));   // reserved header bytes
    EXPECT_EQ(image.substr(0x54, 44), std::string(44, '\0'));
    EXPECT_EQ(image.substr(128, 8), std::string("\x01\x01\x01\x01\x02\x02\x02\x02", 8));
    // The page's and the superblock's checksums are random and may hold any byte.
    image.replace(0x3C, 4, 4, '\0');
    image.replace(0x4C, 4, 4, '\0');
    EXPECT_EQ(image.find('\xEE'), std::string::npos);
    EXPECT_EQ(image.substr(136), std::string(PageSize - 136, '\0'));
}

TEST(Page, NoWriteReachesBeyondTheEndOfTheFile) {
    TempDir dir;
    PagerFile file(dir, "p.strg", PageSize, 8);
    file.format(PageSize);
    file.superBlock.save();
    file.close();
    // Only five of the eight pages are left.
    uint32_t size = 4096 + 5 * PageSize;
    truncateFile(file.path, size);
    file.open();
    file.load();
    ASSERT_TRUE(file.superBlock.isValid());  // still readable
    EXPECT_FALSE(file.superBlock.fitsFile());

    Page page(file.superBlock, file.cache);
    page.init(PageType::Media, 7, 16, 0, 0);
    EXPECT_THROW(page.save(), TarsilException);
    page.reset();
    page.init(PageType::Media, 6, 16, 0, 0);
    page.setItemCount(1);
    EXPECT_THROW(page.syncSaveDirty(), TarsilException);
    page.reset();
    EXPECT_EQ(File::size(file.path.c_str()), size);
    page.loadForRead(7);  // reading is harmless: what is missing reads as zeros
    EXPECT_EQ(page.itemCount(), 0u);
}
