#include <gtest/gtest.h>

#include "base/Clock.h"
#include "base/DateTime.h"
#include "base/thread/Profiler.h"

TEST(Profiler, TracksValuesAndIntervalsOnTheInstalledClock) {
    ManualClock clock(DateTime(2024, 5, 1, 12, 0, 0));
    Profiler profiler("send");
    EXPECT_EQ(profiler.averageValue(), 0u);
    EXPECT_EQ(profiler.averageInterval(), 0u);
    clock.advanceMilliseconds(100);
    profiler.sample(10);
    clock.advanceMilliseconds(300);
    profiler.sample(30);
    EXPECT_EQ(profiler.samples(), 2u);
    EXPECT_EQ(profiler.elapsed(), 400u);
    EXPECT_EQ(profiler.minInterval(), 100u);
    EXPECT_EQ(profiler.maxInterval(), 300u);
    EXPECT_EQ(profiler.minValue(), 10u);
    EXPECT_EQ(profiler.maxValue(), 30u);
    EXPECT_EQ(profiler.lastValue(), 30u);
    EXPECT_EQ(profiler.averageValue(), 20u);
    EXPECT_EQ(profiler.averageInterval(), 200u);

    // Byte counts of a long session do not wrap the total.
    profiler.reset();
    profiler.sample(0xFFFFFFFFu);
    profiler.sample(0xFFFFFFFFu);
    EXPECT_EQ(profiler.totalValue(), 0x1FFFFFFFEull);
    EXPECT_EQ(profiler.minInterval(), 0u);
}
