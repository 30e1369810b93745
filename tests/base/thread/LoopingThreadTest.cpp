#include <atomic>

#include <gtest/gtest.h>

#include "base/thread/LoopingThread.h"
#include "ThreadTestSupport.h"

namespace {

class CountingLoop : public LoopingThread {
public:
    CountingLoop() : LoopingThread("counting") {}
    void onStart() override { ++starts; }
    void runOnce() override {
        ++rounds;
        Thread::sleep(1);
    }
    void onStop() override { ++stops; }
    std::atomic<int> starts{0}, rounds{0}, stops{0};
};

}  // namespace

TEST(LoopingThread, SuspendParksTheLoopAndResumeReleasesIt) {
    TraceCapture trace;
    CountingLoop loop;
    loop.start();
    ASSERT_TRUE(eventually([&] { return loop.rounds > 0; }));
    EXPECT_EQ(loop.state(), LoopingThread::Running);

    loop.suspend();
    EXPECT_EQ(loop.state(), LoopingThread::Suspended);
    ASSERT_TRUE(eventually([&] { return trace.contains("counting: Thread suspended."); }));
    int parkedAt = loop.rounds;
    loop.resume();
    ASSERT_TRUE(eventually([&] { return loop.rounds > parkedAt + 2; }));
    EXPECT_TRUE(trace.contains("counting: Thread resumed."));

    // A second suspend after a resume parks again (no stale wake-up lets it through).
    loop.suspend();
    ASSERT_TRUE(eventually([&] { return trace.countContaining("Thread suspended.") == 2; }));
    parkedAt = loop.rounds;
    loop.stop();
    ASSERT_TRUE(loop.joinFor(20000));
    EXPECT_EQ(loop.rounds, parkedAt) << "no round after a stop while suspended";
    EXPECT_EQ(loop.starts, 1);
    EXPECT_EQ(loop.stops, 1);
    EXPECT_EQ(loop.state(), LoopingThread::NotRunning);
}

TEST(LoopingThread, StopWhileRunningEndsTheLoopAndSuspendAfterStopIsIgnored) {
    CountingLoop loop;
    loop.start();
    ASSERT_TRUE(eventually([&] { return loop.rounds > 0; }));
    loop.stop();
    loop.suspend();
    EXPECT_NE(loop.state(), LoopingThread::Suspended);
    ASSERT_TRUE(loop.joinFor(20000));
    EXPECT_EQ(loop.stops, 1);
}

TEST(LoopingThread, CanBeStartedAgainAfterStopAndJoin) {
    CountingLoop loop;
    loop.start();
    loop.stop();
    loop.join();
    int before = loop.rounds;
    loop.start();
    ASSERT_TRUE(eventually([&] { return loop.rounds > before; }));
    loop.stop();
    ASSERT_TRUE(loop.joinFor(20000));
    EXPECT_EQ(loop.starts, 2);
}
