#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Gate.h"
#include "PagerFixture.h"
#include "base/TarsilException.h"
#include "storage/pager/MemoryPool.h"
#include "storage/pager/Page.h"

namespace {

constexpr uint32_t PageSize = 65536;

// Blocks handed out by the pool and not yet returned.
int32_t outstandingBlocks() {
    return static_cast<int32_t>(MemoryPool::createdCount()) - static_cast<int32_t>(MemoryPool::freeCount());
}

// Gives page `number` a recognisable image on disk: header item count and data bytes.
void writePage(PagerFile& file, uint32_t number, uint8_t fill) {
    Page page(file.superBlock, file.cache);
    page.init(PageType::Media, number, 16, 0, 0);
    page.setItemCount(fill);
    page.buffer().fillAt(128, fill, PageSize - 128);
    page.save();
}

}  // namespace

TEST(PageCache, ReadersShareOneBlockAndReleasedPagesStayRecent) {
    TempDir dir;
    PagerFile file(dir, "c.strg", PageSize, 10);
    file.format(PageSize);
    writePage(file, 7, 7);
    file.cache.clear();

    PlanScope scope;
    {
        Page first(file.superBlock, file.cache);
        Page second(file.superBlock, file.cache);
        first.loadForRead(7);
        second.loadForRead(7);
        EXPECT_EQ(first.data(), second.data());
        EXPECT_EQ(file.cache.referenceCount(7), 2u);
        EXPECT_EQ(scope.plan.readCount(), 1u);
    }
    EXPECT_EQ(file.cache.recentPages().back(), 7u);
    Page third(file.superBlock, file.cache);
    third.loadForRead(7);
    EXPECT_EQ(scope.plan.readCount(), 1u);
    EXPECT_EQ(third.itemCount(), 7u);
    third.reset();

    for (uint32_t n = 1; n <= 5; ++n) {
        Page other(file.superBlock, file.cache);
        other.loadForRead(n);
    }
    EXPECT_FALSE(file.cache.isRecent(7));  // the sixth release evicted the oldest
    EXPECT_EQ(file.cache.recentPages().size(), 5u);
}

TEST(PageCache, ReadersKeepTheirImageWhileAWriterTakesThePageOver) {
    TempDir dir;
    PagerFile file(dir, "c.strg", PageSize, 10);
    file.format(PageSize);
    writePage(file, 7, 1);
    file.cache.clear();
    int32_t outstanding = outstandingBlocks();
    {
        Page oldReader(file.superBlock, file.cache);
        oldReader.loadForRead(7);
        Page writer(file.superBlock, file.cache);
        writer.init(PageType::Media, 7, 16, 0, 0);  // new content, first generation
        writer.setItemCount(2);
        EXPECT_TRUE(file.cache.isOverwritten(7));

        Page copyReader(file.superBlock, file.cache);
        copyReader.loadForRead(7);  // a writer holds it: a private copy
        EXPECT_TRUE(copyReader.isCopy());
        EXPECT_NE(copyReader.data(), writer.data());
        EXPECT_EQ(copyReader.itemCount(), 2u);
        writer.save();
        writer.reset();

        Page midReader(file.superBlock, file.cache);
        midReader.loadForRead(7);  // shares the released writer block
        EXPECT_EQ(midReader.itemCount(), 2u);
        Page secondWriter(file.superBlock, file.cache);
        secondWriter.loadForWrite(7);  // second take-over while both readers still hold
        secondWriter.setItemCount(3);

        EXPECT_EQ(oldReader.itemCount(), 1u);
        EXPECT_EQ(oldReader.buffer().getByteAt(PageSize - 1), 1);
        EXPECT_EQ(midReader.itemCount(), 2u);
        oldReader.reset();
        EXPECT_TRUE(file.cache.isOverwritten(7));
        midReader.reset();
        EXPECT_FALSE(file.cache.isOverwritten(7));
        EXPECT_EQ(file.cache.referenceCount(7), 1u);  // only the writer's own
    }
    file.cache.clear();
    EXPECT_EQ(outstandingBlocks(), outstanding);
}

TEST(PageCache, ReaderCopiesAWritersPageOnlyUnderThePageLock) {
    TempDir dir;
    PagerFile file(dir, "c.strg", PageSize, 10);
    file.format(PageSize);
    Page writer(file.superBlock, file.cache);
    writer.init(PageType::Media, 7, 16, 0, 0);
    writer.setItemCount(1);
    writer.buffer().fillAt(128, 1, PageSize - 128);

    // The reader is held at the copy; while it is there the writer must not get in.
    Gate atCopy;
    file.cache.setCopyHook([&] { atCopy.park(); });
    Page reader(file.superBlock, file.cache);
    DeadlineThread readerThread("the reader's load of page 7", [&] { reader.loadForRead(7); });
    ASSERT_TRUE(atCopy.reached()) << "the reader never started copying the writer's page";
    bool writerGotIn = writer.mutex().try_lock();
    if (writerGotIn) {
        // What the writer would do under its lock: the copy being taken now sees half of it.
        writer.setItemCount(2);
        writer.mutex().unlock();
    }
    atCopy.open();
    readerThread.finish();
    file.cache.setCopyHook(nullptr);
    EXPECT_FALSE(writerGotIn) << "the copy was taken without the page's lock";
    ASSERT_TRUE(reader.isCopy());
    EXPECT_EQ(reader.itemCount(), 1u);
    EXPECT_EQ(reader.buffer().getByteAt(PageSize - 1), 1);
}

TEST(PageCache, ChangesNeverSavedAreNeverShownToLaterLoads) {
    TempDir dir;
    PagerFile file(dir, "c.strg", PageSize, 10);
    file.format(PageSize);
    writePage(file, 7, 3);
    file.cache.clear();
    int32_t outstanding = outstandingBlocks();
    {
        Page writer(file.superBlock, file.cache);
        writer.loadForWrite(7);
        writer.setItemCount(99);  // released without a save: never on disk
    }
    Page reader(file.superBlock, file.cache);
    reader.loadForRead(7);
    EXPECT_EQ(reader.itemCount(), 3u);
    reader.reset();

    Page writer(file.superBlock, file.cache);
    writer.loadForWrite(7);
    writer.setItemCount(98);
    writer.discard();  // an abandoned change
    EXPECT_FALSE(writer.isLoaded());
    writer.loadForWrite(7);
    EXPECT_EQ(writer.itemCount(), 3u);
    writer.reset();

    // A reader may scribble on its block, but a read-only page never saves: its changes
    // must not reach the next reader either.
    Page scribbler(file.superBlock, file.cache);
    scribbler.loadForRead(7);
    scribbler.setItemCount(97);
    scribbler.syncSaveDirty();
    scribbler.reset();
    reader.loadForRead(7);
    EXPECT_EQ(reader.itemCount(), 3u);
    reader.reset();
    file.cache.clear();
    EXPECT_EQ(outstandingBlocks(), outstanding);
}

TEST(PageCache, EveryLoadStartsFromThePageAsSaved) {
    TempDir dir;
    PagerFile file(dir, "c.strg", PageSize, 10);
    file.format(PageSize);
    writePage(file, 7, 3);
    writePage(file, 8, 3);

    // Page 7 is cached as recent, page 8 is held by a reader; then both headers are
    // rewritten through header-only pages, as the journal does.
    Page warm(file.superBlock, file.cache);
    warm.loadForRead(7);
    warm.reset();
    ASSERT_TRUE(file.cache.isRecent(7));
    Page holder(file.superBlock, file.cache);
    holder.loadForRead(8);
    for (uint32_t number : {7u, 8u}) {
        Page header(file.superBlock, file.cache);
        header.loadHeaderForWrite(number);
        header.setItemCount(4);
        header.saveHeader();
    }
    for (uint32_t number : {7u, 8u}) {
        Page writer(file.superBlock, file.cache);
        writer.loadForWrite(number);
        EXPECT_EQ(writer.itemCount(), 4u) << "writer of page " << number;
        writer.reset();
        Page reader(file.superBlock, file.cache);
        reader.loadForRead(number);
        EXPECT_EQ(reader.itemCount(), 4u) << "reader of page " << number;
    }
    EXPECT_EQ(holder.itemCount(), 3u);  // an earlier reader keeps the image it had
}

TEST(PageCache, ClearNeverTakesMemoryFromItsHolders) {
    TempDir dir;
    PagerFile file(dir, "c.strg", PageSize, 10);
    file.format(PageSize);
    writePage(file, 7, 5);
    file.cache.clear();
    int32_t outstanding = outstandingBlocks();
    Page reader(file.superBlock, file.cache);
    reader.loadForRead(7);
    Page writer(file.superBlock, file.cache);
    writer.init(PageType::Media, 8, 16, 0, 0);
    writer.setItemCount(6);
    void* readerBlock = reader.data();
    void* writerBlock = writer.data();

    file.cache.clear();
    std::vector<void*> taken;
    for (int i = 0; i < 8; ++i) {
        taken.push_back(MemoryPool::allocate(PageSize));
        std::memset(taken.back(), 0xEE, PageSize);
        EXPECT_NE(taken.back(), readerBlock);
        EXPECT_NE(taken.back(), writerBlock);
    }
    EXPECT_EQ(reader.itemCount(), 5u);
    EXPECT_EQ(reader.buffer().getByteAt(PageSize - 1), 5);
    EXPECT_EQ(writer.itemCount(), 6u);
    for (void* block : taken) {
        MemoryPool::free(block);
    }
    reader.reset();
    writer.reset();
    file.cache.clear();
    EXPECT_EQ(outstandingBlocks(), outstanding);  // the held blocks came back on release
}

TEST(PageCache, PageNumbersOutsideTheStorageAreRefused) {
    TempDir dir;
    PagerFile file(dir, "c.strg", PageSize, 10);
    file.format(PageSize);
    int32_t outstanding = outstandingBlocks();
    Page page(file.superBlock, file.cache);
    for (uint32_t number : {0u, 11u, 0xFFFFFFFFu}) {
        EXPECT_THROW(page.init(PageType::Media, number, 16, 0, 0), TarsilException) << number;
        EXPECT_THROW(page.loadForRead(number), TarsilException) << number;
        EXPECT_THROW(page.loadForWrite(number), TarsilException) << number;
        EXPECT_THROW(page.loadHeader(number, true), TarsilException) << number;
        bool isCopy = false;
        EXPECT_THROW(file.cache.fetch(number, isCopy, nullptr), TarsilException) << number;
    }
    EXPECT_FALSE(page.isLoaded());
    EXPECT_EQ(outstandingBlocks(), outstanding);
    page.loadForRead(10);  // the last page is a page
    EXPECT_TRUE(page.isLoaded());
}
