#include <gtest/gtest.h>

#include <vector>

#include "app/archiving/ArchivedSecond.h"

namespace {

// A frame of a 16-channel recorder at 25 fps: video of `channel` with `index` in its key
// group, or audio when channel is 16; positions count frames.
ArchivedFrame frameOf(int64_t second, int channel, int index, uint32_t keyGroup) {
    ArchivedFrame f;
    f.time = DateTime::fromEpochSeconds(second);
    f.mediaType = channel < 16 ? 0 : 1;
    f.channelMask = channel < 16 ? 1u << channel : 1u;
    f.syncKeyID = keyGroup;
    f.syncIndex = static_cast<uint16_t>(channel < 16 ? index : 0);
    f.position.positionA = static_cast<uint32_t>(second);
    f.position.positionB = static_cast<uint32_t>(index * 17 + channel);
    return f;
}

// Every frame of one recorded second.
std::vector<ArchivedFrame> secondOf(int64_t second, uint32_t keyGroup) {
    std::vector<ArchivedFrame> frames;
    for (int index = 0; index < 25; ++index) {
        for (int channel = 0; channel <= 16; ++channel) {
            frames.push_back(frameOf(second, channel, index, keyGroup));
        }
    }
    return frames;
}

}  // namespace

TEST(ArchivedSecond, HoldsEveryFrameOfItsSecondAndNoOtherFrame) {
    ArchivedSecond held;
    std::vector<ArchivedFrame> second = secondOf(1000, 7);
    for (const ArchivedFrame& f : second) held.add(f);
    for (const ArchivedFrame& f : second) EXPECT_TRUE(held.holds(f));
    // Frames of the same second that differ in one part of their identity only.
    for (ArchivedFrame f : second) {
        ArchivedFrame otherKey = f, otherPosition = f, otherType = f, otherTime = f;
        otherKey.syncKeyID += 1;
        otherPosition.position.positionC = 1;
        otherType.mediaType = 3;
        otherTime.time = DateTime::fromEpochSeconds(1001);
        EXPECT_FALSE(held.holds(otherKey));
        EXPECT_FALSE(held.holds(otherPosition));
        EXPECT_FALSE(held.holds(otherType));
        EXPECT_FALSE(held.holds(otherTime));
    }
}

TEST(ArchivedSecond, AFrameOfAnotherSecondDropsThoseHeldAndClearDropsThemAll) {
    ArchivedSecond held;
    std::vector<ArchivedFrame> first = secondOf(1000, 7);
    for (const ArchivedFrame& f : first) held.add(f);
    // The clock set back: the next second is an earlier one.
    ArchivedFrame later = frameOf(999, 3, 0, 8);
    held.add(later);
    EXPECT_TRUE(held.holds(later));
    for (const ArchivedFrame& f : first) EXPECT_FALSE(held.holds(f));
    held.clear();
    EXPECT_TRUE(held.empty());
    EXPECT_FALSE(held.holds(later));
}
