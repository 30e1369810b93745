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
    AtScopeExit stopLoop([&] {
        loop.stop();
        loop.joinFor(WaitMs);
    });
    loop.start();
    ASSERT_TRUE(eventually([&] { return loop.rounds > 0; })) << "the loop never ran a round";
    EXPECT_EQ(loop.state(), LoopingThread::Running);

    loop.suspend();
    EXPECT_EQ(loop.state(), LoopingThread::Suspended);
    ASSERT_TRUE(eventually([&] { return trace.contains("counting: Thread suspended."); })) << "the loop did not park";
    int parkedAt = loop.rounds;
    loop.resume();
    ASSERT_TRUE(eventually([&] { return loop.rounds > parkedAt + 2; }))
        << "rounds after resume: " << loop.rounds - parkedAt;
    EXPECT_TRUE(trace.contains("counting: Thread resumed."));

    // A second suspend after a resume parks again (no stale wake-up lets it through).
    loop.suspend();
    ASSERT_TRUE(eventually([&] { return trace.countContaining("Thread suspended.") == 2; }))
        << "the loop did not park a second time";
    parkedAt = loop.rounds;
    loop.stop();
    ASSERT_TRUE(loop.joinFor(WaitMs)) << "stop() did not end a suspended loop";
    EXPECT_EQ(loop.rounds, parkedAt) << "no round after a stop while suspended";
    EXPECT_EQ(loop.starts, 1);
    EXPECT_EQ(loop.stops, 1);
    EXPECT_EQ(loop.state(), LoopingThread::NotRunning);
}

TEST(LoopingThread, StopWhileRunningEndsTheLoopAndSuspendAfterStopIsIgnored) {
    CountingLoop loop;
    AtScopeExit stopLoop([&] {
        loop.stop();
        loop.joinFor(WaitMs);
    });
    loop.start();
    ASSERT_TRUE(eventually([&] { return loop.rounds > 0; })) << "the loop never ran a round";
    loop.stop();
    loop.suspend();
    EXPECT_NE(loop.state(), LoopingThread::Suspended);
    ASSERT_TRUE(loop.joinFor(WaitMs)) << "stop() did not end the loop";
    EXPECT_EQ(loop.stops, 1);
}

TEST(LoopingThread, CanBeStartedAgainAfterStopAndJoin) {
    CountingLoop loop;
    AtScopeExit stopLoop([&] {
        loop.stop();
        loop.joinFor(WaitMs);
    });
    loop.start();
    loop.stop();
    ASSERT_TRUE(loop.joinFor(WaitMs)) << "stop() did not end the loop";
    int before = loop.rounds;
    loop.start();
    ASSERT_TRUE(eventually([&] { return loop.rounds > before; })) << "the restarted loop never ran a round";
    loop.stop();
    ASSERT_TRUE(loop.joinFor(WaitMs)) << "stop() did not end the restarted loop";
    EXPECT_EQ(loop.starts, 2);
}
