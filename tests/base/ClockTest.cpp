#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "base/DateTime.h"
#include "base/TextOf.h"

TEST(ManualClock, IsCurrentForItsLifetimeOnly) {
    {
        ManualClock clock(DateTime(2009, 3, 1, 12, 0, 0, 32400));
        EXPECT_EQ(&Clock::current(), &clock);
        EXPECT_EQ(textOf(Clock::current().now()), "2009/03/01 12:00:00");
    }
    EXPECT_EQ(&Clock::current(), &SystemClock::instance());
}

TEST(ManualClock, AdvancingMovesWallClockAndTicksTogether) {
    ManualClock clock(DateTime(2008, 12, 31, 23, 59, 0, 32400));
    uint32_t start = clock.tickCount();
    clock.advanceSeconds(90);
    EXPECT_EQ(textOf(clock.now()), "2009/01/01 00:00:30");
    EXPECT_EQ(clock.now().utcOffset(), 32400);
    EXPECT_EQ(clock.tickCount() - start, 90000u);

    // Milliseconds add up to whole seconds of wall-clock time.
    clock.advanceMilliseconds(700);
    EXPECT_EQ(textOf(clock.now()), "2009/01/01 00:00:30");
    clock.advanceMilliseconds(700);
    EXPECT_EQ(textOf(clock.now()), "2009/01/01 00:00:31");
    EXPECT_EQ(clock.tickCount() - start, 91400u);

    EXPECT_EQ(textOf(clock.nowUtc()), "2008/12/31 15:00:31");
    EXPECT_EQ(clock.nowUtc().utcOffset(), 0);

    EXPECT_EQ(clock.nowUtcEpochSeconds(), DateTime(2008, 12, 31, 15, 0, 31).toEpochSeconds());

    clock.set(DateTime(2010, 1, 1, 0, 0, 0));
    EXPECT_EQ(textOf(clock.now()), "2010/01/01 00:00:00");
    EXPECT_EQ(clock.tickCount() - start, 91400u);
}

TEST(SystemClock, SecondsSinceTheEpochAreThoseOfTheUtcDate) {
    SystemClock& clock = SystemClock::instance();
    // Read around a second boundary at most once: one of two tries sees the same second.
    for (int attempt = 0; attempt < 2; ++attempt) {
        int64_t before = clock.nowUtcEpochSeconds();
        DateTime utc = clock.nowUtc();
        int64_t after = clock.nowUtcEpochSeconds();
        if (before == after) {
            EXPECT_EQ(utc.toEpochSeconds(), before) << textOf(utc);
            EXPECT_TRUE(DateTime::fromEpochSeconds(before).equals(utc)) << textOf(utc);
            return;
        }
    }
    FAIL() << "the clock moved by a second twice in a row";
}

TEST(ManualClock, ConcurrentAdvancesAreAllCounted) {
    ManualClock clock(DateTime(2009, 1, 1, 0, 0, 0));
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&clock, &finished] {
            for (int i = 0; i < 1000; ++i) {
                clock.advanceMilliseconds(250);
                (void)Clock::current().now();
            }
            ++finished;
        });
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (finished < 4 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (finished < 4) {
        // A thread stuck on the clock's lock: let it go with the process, not hang here.
        for (auto& thread : threads) thread.detach();
        FAIL() << finished << " of 4 threads finished their advances within 5 s";
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(clock.tickCount(), 1000000u);
    EXPECT_EQ(textOf(clock.now()), "2009/01/01 00:16:40");
}
