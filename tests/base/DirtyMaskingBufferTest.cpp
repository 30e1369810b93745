#include <gtest/gtest.h>

#include <vector>

#include "base/DirtyMaskingBuffer.h"
#include "base/TextOf.h"

namespace {

std::vector<DirtyRange> ranges(std::initializer_list<DirtyRange> list) { return list; }

}  // namespace

TEST(DirtyMaskingBuffer, PutsMarkEveryBlockTheyTouch) {
    std::vector<uint8_t> page(4096);
    uint8_t x[512] = {};
    DirtyMaskingBuffer buffer(page.data(), 4096, 1);
    EXPECT_EQ(buffer.blockLength(), 512);

    buffer.putAt(0, x, 0);
    EXPECT_TRUE(buffer.isClean());
    buffer.putAt(510, x, 4);
    EXPECT_EQ(textOf(buffer.mask()), "0b11000000");

    buffer.clearDirty();
    buffer.putAt(512, x, 512);
    EXPECT_EQ(textOf(buffer.mask()), "0b01000000");

    buffer.clearDirty();
    buffer.putAt(4095, x, 1);
    buffer.fillAt(1024, 0xFF, 1);
    EXPECT_EQ(textOf(buffer.mask()), "0b00100001");
}

TEST(DirtyMaskingBuffer, RelativeWritesMarkAndReadsDoNot) {
    std::vector<uint8_t> page(4096);
    DirtyMaskingBuffer buffer(page.data(), 4096, 2);  // 16 blocks of 256 bytes
    buffer.setPosition(254);
    buffer.putInt(0xA1B2C3D4);
    EXPECT_EQ(buffer.dirtyRanges(), ranges({{0, 512}}));
    buffer.fill(0, 1000);  // 258 .. 1257
    EXPECT_EQ(buffer.dirtyRanges(), ranges({{0, 1280}}));

    buffer.clearDirty();
    buffer.setPosition(2048);
    buffer.getLong();
    buffer.read(100);
    buffer.getIntAt(3000);
    EXPECT_TRUE(buffer.isClean());
    EXPECT_EQ(buffer.getIntAt(254), 0xA1B2C3D4u);
}

TEST(DirtyMaskingBuffer, DirtyRangesJoinRunsOfSetBits) {
    std::vector<uint8_t> page(4096);
    DirtyMaskingBuffer buffer(page.data(), 4096, 1);
    for (int bit : {0, 1, 3, 6, 7}) buffer.mask().set(bit);  // 1101 0011, bit 0 first
    EXPECT_EQ(buffer.dirtyRanges(), ranges({{0, 1024}, {1536, 512}, {3072, 1024}}));

    buffer.mask().setRange(0, 7);
    EXPECT_TRUE(buffer.mask().isAllDirty());
    EXPECT_EQ(buffer.dirtyRanges(), ranges({{0, 4096}}));

    buffer.setMaskSize(4);
    EXPECT_TRUE(buffer.isClean());
    EXPECT_EQ(buffer.blockLength(), 128);
    EXPECT_TRUE(buffer.dirtyRanges().empty());
}

TEST(DirtyMaskingBuffer, WritesNeverMarkOutsideTheMask) {
    // Fewer bytes than mask bits, and writes ending at the very last byte.
    uint8_t small[4] = {};
    DirtyMaskingBuffer buffer(small, 4, 1);
    buffer.putByteAt(3, 1);
    EXPECT_EQ(textOf(buffer.mask()), "0b00010000");

    uint8_t none[8] = {};
    DirtyMaskingBuffer unmasked(none, 8, 0);
    unmasked.putLongAt(0, 7);
    EXPECT_EQ(unmasked.blockLength(), 0);
    EXPECT_TRUE(unmasked.dirtyRanges().empty());
}

TEST(DirtyMaskingBuffer, BlocksFollowAWrapAndAreNotPowersOfTwoOnlyAnyMore) {
    // 3000 bytes over 8 bits: blocks of 375 bytes, found by division rather than a shift.
    std::vector<uint8_t> odd(3000);
    DirtyMaskingBuffer buffer;
    buffer.setMaskSize(1);
    buffer.wrap(odd.data(), 3000);
    EXPECT_EQ(buffer.blockLength(), 375);
    buffer.putAt(374, odd.data(), 2);  // 374 and 375: the first two blocks
    buffer.fillAt(2999, 0, 1);
    EXPECT_EQ(textOf(buffer.mask()), "0b11000001");

    // Wrapped around a page twice the size, the blocks double.
    std::vector<uint8_t> page(8192);
    buffer.wrap(page.data(), 8192);
    buffer.clearDirty();
    EXPECT_EQ(buffer.blockLength(), 1024);
    buffer.putAt(1023, page.data(), 2);
    EXPECT_EQ(textOf(buffer.mask()), "0b11000000");
}
