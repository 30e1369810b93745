#include <atomic>
#include <vector>

#include <gtest/gtest.h>

#include "base/Clock.h"
#include "base/thread/ActionLoop.h"
#include "base/thread/Actor.h"
#include "ThreadTestSupport.h"

namespace {

class RecordingActor : public Actor {
public:
    void onIdle() override { ++idles; }
    void onAction(int actionId) override {
        std::lock_guard<std::mutex> guard(mutex);
        actions.push_back(actionId);
        if (actionId == 5) {
            requestAction(6, Clock::current().now().plusSeconds(60));
        }
    }
    void start() override {
        ++starts;
        Actor::start();
    }
    std::vector<int> fired() {
        std::lock_guard<std::mutex> guard(mutex);
        return actions;
    }
    std::mutex mutex;
    std::vector<int> actions;
    std::atomic<int> idles{0}, starts{0};
};

DateTime at(int day, int hour, int minute, int second = 0) {
    return DateTime(2024, 5, day, hour, minute, second);
}

using Ids = std::vector<int>;

}  // namespace

TEST(Actor, DailyActionsFireOnceAtOrAfterTheirTimeAndAgainAfterMidnight) {
    ManualClock clock(at(1, 8, 0));
    RecordingActor actor;
    actor.scheduleAction(2, Time(18, 0, 0));
    actor.scheduleAction(1, Time(9, 0, 0));
    actor.start();
    ActionLoop loop;
    loop.addActor(&actor);

    loop.tickActors();
    clock.set(at(1, 8, 59, 59));
    loop.tickActors();
    EXPECT_EQ(actor.fired(), Ids{});
    clock.set(at(1, 9, 0));
    loop.tickActors();
    loop.tickActors();
    EXPECT_EQ(actor.fired(), Ids{1});
    clock.set(at(1, 18, 0, 30));
    loop.tickActors();
    clock.set(at(1, 23, 59, 59));
    loop.tickActors();
    EXPECT_EQ(actor.fired(), (Ids{1, 2}));

    clock.set(at(2, 0, 0, 1));
    loop.tickActors();
    EXPECT_EQ(actor.fired(), (Ids{1, 2}));
    clock.set(at(2, 9, 0, 5));
    loop.tickActors();
    clock.set(at(2, 18, 1));
    loop.tickActors();
    EXPECT_EQ(actor.fired(), (Ids{1, 2, 1, 2}));
    EXPECT_GT(actor.idles, 0);
}

TEST(Actor, BegunAfterTheFirstActionFiresOnlyTheLaterOneThatDay) {
    ManualClock clock(at(1, 10, 0));
    RecordingActor actor;
    actor.scheduleAction(1, Time(9, 0, 0));
    actor.scheduleAction(2, Time(18, 0, 0));
    actor.start();
    actor.tick();
    clock.set(at(1, 20, 0));
    actor.tick();  // 18:00 passed while nobody looked: fires at the first tick after it
    actor.tick();
    EXPECT_EQ(actor.fired(), Ids{2});
    clock.set(at(2, 9, 30));
    actor.tick();
    EXPECT_EQ(actor.fired(), (Ids{2, 1}));
}

TEST(Actor, ActionsAddedAfterStartWithTheSameTimeBothFire) {
    ManualClock clock(at(1, 8, 0));
    RecordingActor actor;
    actor.start();
    actor.scheduleAction(1, Time(9, 0, 0));
    actor.scheduleAction(2, Time(9, 0, 0));
    actor.scheduleAction(3, Time(7, 0, 0));  // already past today
    clock.set(at(1, 9, 0));
    actor.tick();
    actor.tick();
    actor.tick();
    EXPECT_EQ(actor.fired(), (Ids{1, 2}));
}

TEST(Actor, RequestedActionsRunWhenDueIncludingOnesRequestedFromAnAction) {
    ManualClock clock(at(1, 12, 0));
    RecordingActor actor;
    actor.start();
    actor.requestAction(7, at(1, 12, 0, 10));
    actor.tick();
    EXPECT_EQ(actor.fired(), Ids{});
    clock.set(at(1, 12, 0, 10));
    actor.requestAction(5, Clock::current().now());  // replaces 7
    actor.tick();
    EXPECT_EQ(actor.fired(), Ids{5});
    actor.tick();  // 6 was requested from inside onAction, one minute ahead
    EXPECT_EQ(actor.fired(), Ids{5});
    clock.advanceSeconds(60);
    actor.tick();
    actor.tick();
    EXPECT_EQ(actor.fired(), (Ids{5, 6}));
}

TEST(ActionLoop, StartsItsActorsAndTicksThemOnItsThread) {
    ManualClock clock(at(1, 12, 0));
    RecordingActor first, second;
    ActionLoop loop;
    loop.addActor(&first);
    loop.addActor(&second);
    EXPECT_EQ(loop.actorCount(), 2);
    loop.start();
    ASSERT_TRUE(eventually([&] { return first.idles > 0 && second.idles > 0; }));
    loop.removeActor(&second);
    int secondIdles = second.idles;  // removeActor waited for any round in progress
    int firstIdles = first.idles;
    ASSERT_TRUE(eventually([&] { return first.idles > firstIdles; }));
    EXPECT_EQ(second.idles, secondIdles);
    loop.stop();
    ASSERT_TRUE(loop.joinFor(20000));
    EXPECT_EQ(first.starts, 1);
    EXPECT_EQ(second.starts, 1);
}
