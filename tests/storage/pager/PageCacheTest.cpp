#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "PagerFixture.h"
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

TEST(PageCache, ConcurrentReaderAlwaysSeesWholePageImages) {
    TempDir dir;
    constexpr uint32_t Pages = 8;
    PagerFile file(dir, "c.strg", PageSize, Pages);
    file.format(PageSize);
    for (uint32_t n = 1; n <= Pages; ++n) {
        writePage(file, n, 0);
    }
    file.cache.clear();
    int32_t outstanding = outstandingBlocks();

    std::atomic<int> torn{0};
    std::atomic<int> reads{0};
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        Page page(file.superBlock, file.cache);
        for (uint32_t round = 1; round <= 240; ++round) {
            uint32_t number = round % Pages + 1;
            page.loadForWrite(number);
            {
                std::lock_guard<Mutex> lock(page.mutex());  // readers never see half of this
                page.setItemCount(round);
                page.buffer().fillAt(128, static_cast<int>(round & 0xFF), PageSize - 128);
            }
            page.syncSaveDirty();
            page.release();
        }
        writing = false;
    });
    std::thread reader([&] {
        Page page(file.superBlock, file.cache);
        for (uint32_t round = 0; round < 2000 && (writing || round < 50); ++round) {
            page.loadForRead(round % Pages + 1);
            uint8_t fill = static_cast<uint8_t>(page.itemCount() & 0xFF);
            const uint8_t* data = page.data();
            for (uint32_t i = 128; i < PageSize; ++i) {
                if (data[i] != fill) {
                    ++torn;
                    break;
                }
            }
            ++reads;
            page.release();
        }
    });
    writer.join();
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    file.cache.clear();
    EXPECT_EQ(outstandingBlocks(), outstanding);
}
