#include <atomic>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/Clock.h"
#include "base/thread/ActionLoop.h"
#include "base/thread/Actor.h"
#include "base/thread/ScheduledActionList.h"
#include "base/thread/Thread.h"
#include "ThreadTestSupport.h"

namespace {

class RecordingActor : public Actor {
public:
    void onIdle() override {
        tickThread = Thread::currentThreadId();
        if (idleHook) idleHook();
        ++idles;
    }
    void onAction(int actionId) override {
        std::lock_guard<std::mutex> guard(mutex);
        actions.push_back(actionId);
        if (actionId == 5) {
            requestAction(6, Clock::current().now().plusSeconds(60));
        }
        if (actionId == 7) {
            requestAction(8, Clock::current().now());
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
    std::atomic<uint32_t> tickThread{0};
    // Runs inside onIdle() on the ticking thread; set before the actor is ticked.
    std::function<void()> idleHook;
};

// Holds its thread before the actors are started, so a test can add one in between.
class HeldStartLoop : public ActionLoop {
public:
    void onStart() override {
        gate.pass();
        ActionLoop::onStart();
    }
    Gate gate;
};

DateTime at(int day, int hour, int minute, int second = 0) {
    return DateTime(2024, 5, day, hour, minute, second);
}

using Ids = std::vector<int>;

// Stops and joins a started loop when the test leaves, whatever way it leaves.
struct StopsLoop {
    ActionLoop& loop;
    ~StopsLoop() {
        loop.stop();
        loop.joinFor(WaitMs);
    }
};

// Starts `loop` with `first` on it and waits for its first round.
bool startedWith(ActionLoop& loop, RecordingActor& first) {
    loop.addActor(&first);
    loop.start();
    return eventually([&] { return first.idles > 0; });
}

std::string text(const Ids& ids) {
    std::ostringstream out;
    for (int id : ids) out << id << ' ';
    return out.str();
}

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

TEST(ScheduledActionList, NeverBegunListTakesItsFirstDayAndRearmsAfterMidnight) {
    ManualClock clock(at(1, 8, 0));
    ScheduledActionList list;
    list.add(1, Time(9, 0, 0));
    list.add(2, Time(18, 0, 0));
    EXPECT_EQ(list.due(at(1, 9, 0)), 1);
    EXPECT_EQ(list.due(at(1, 18, 0)), 2);
    EXPECT_EQ(list.due(at(1, 23, 0)), -1);
    EXPECT_EQ(list.due(at(2, 9, 0)), 1);
    EXPECT_EQ(list.due(at(2, 18, 0)), 2);
    EXPECT_EQ(list.due(at(3, 9, 30)), 1);
}

TEST(ActionLoop, StartsEveryActorOnceWhetherAddedBeforeDuringOrAfterItsStart) {
    ManualClock clock(at(1, 12, 0));
    RecordingActor before, during, after, late;
    HeldStartLoop loop;
    AtScopeExit stopLoop([&] {
        loop.gate.open();
        loop.stop();
        loop.joinFor(WaitMs);
    });
    loop.addActor(&before);
    loop.start();
    ASSERT_TRUE(loop.gate.awaitArrivals()) << "the loop thread never reached onStart";
    // The loop runs but has not started its actors yet: its start must take this one too.
    loop.addActor(&during);
    EXPECT_EQ(during.starts, 0);
    loop.gate.open();
    ASSERT_TRUE(eventually([&] { return before.idles > 0 && during.idles > 0; }))
        << "idles: before " << before.idles << ", during " << during.idles;
    loop.addActor(&after);
    EXPECT_EQ(after.starts, 1) << "an actor added to a running loop is started before addActor returns";
    loop.addActor(&after);
    EXPECT_EQ(loop.actorCount(), 3) << "the same actor added twice would be ticked twice a round";
    ASSERT_TRUE(eventually([&] { return after.idles > 0; })) << "the added actor was never ticked";
    EXPECT_EQ(after.tickThread, loop.id()) << "ticks run on the loop's thread";
    loop.stop();
    ASSERT_TRUE(loop.joinFor(WaitMs)) << "the loop did not stop";
    EXPECT_EQ(before.starts, 1);
    EXPECT_EQ(during.starts, 1);
    EXPECT_EQ(after.starts, 1);

    // A stopped loop leaves the start of a new actor to its next run, which starts all.
    loop.addActor(&late);
    EXPECT_EQ(late.starts, 0);
    loop.start();
    ASSERT_TRUE(eventually([&] { return late.idles > 0; })) << "the restarted loop never ticked";
    loop.stop();
    ASSERT_TRUE(loop.joinFor(WaitMs)) << "the restarted loop did not stop";
    EXPECT_EQ(late.starts, 1);
    EXPECT_EQ(before.starts, 2);
}

TEST(ActionLoop, DailyActionsOfAnActorAddedToARunningLoopFireOnEveryDay) {
    const DateTime firstDay(2023, 12, 30, 0, 0, 0);  // across a month and a year end
    ManualClock clock(firstDay.plusSeconds(8 * 3600));
    RecordingActor present, hours;
    ActionLoop loop;
    StopsLoop stopLoop{loop};
    ASSERT_TRUE(startedWith(loop, present)) << "the loop never ticked";
    hours.scheduleAction(0, Time(8, 30, 0));
    hours.scheduleAction(1, Time(18, 0, 0));
    loop.addActor(&hours);

    Ids expected;
    for (int day = 0; day < 4; ++day) {
        for (int id : {0, 1}) {
            int secondOfDay = id == 0 ? 8 * 3600 + 30 * 60 + 5 : 18 * 3600 + 5;
            clock.set(firstDay.plusSeconds(day * 86400 + secondOfDay));
            expected.push_back(id);
            ASSERT_TRUE(eventually([&] { return hours.fired().size() >= expected.size(); }))
                << "day " << day << ": expected " << text(expected) << "fired " << text(hours.fired());
            // Later rounds at the same time fire nothing more.
            int idles = hours.idles;
            ASSERT_TRUE(eventually([&] { return hours.idles >= idles + 2; })) << "the loop stopped ticking";
            EXPECT_EQ(hours.fired(), expected) << "day " << day;
        }
        clock.set(firstDay.plusSeconds(day * 86400 + 23 * 3600 + 59 * 60 + 59));
    }
    loop.stop();
    ASSERT_TRUE(loop.joinFor(WaitMs)) << "the loop did not stop";
}

TEST(ActionLoop, RemoveActorWaitsForTheActorsTickInProgress) {
    ManualClock clock(at(1, 12, 0));
    RecordingActor kept, removed;
    Gate tick;
    std::atomic<bool> removerReturned{false}, returnedDuringTick{false};
    removed.idleHook = [&] {
        if (removed.idles == 0) {
            tick.pass();
            returnedDuringTick = removerReturned.load();
        }
    };
    ActionLoop loop;
    AtScopeExit stopLoop([&] {
        tick.open();
        loop.stop();
        loop.joinFor(WaitMs);
    });
    loop.addActor(&kept);
    loop.addActor(&removed);
    loop.start();
    ASSERT_TRUE(tick.awaitArrivals()) << "the loop never ticked the actor";

    // The loop thread is held inside the actor's tick: the removal must wait for it.
    struct Remover : Thread {
        Remover(ActionLoop& l, Actor& a, std::atomic<bool>& r) : Thread("remover"), loop(l), actor(a), returned(r) {}
        void run() override {
            loop.removeActor(&actor);
            returned = true;
        }
        ActionLoop& loop;
        Actor& actor;
        std::atomic<bool>& returned;
    } remover(loop, removed, removerReturned);
    AtScopeExit release([&] {
        tick.open();
        remover.joinFor(WaitMs);
    });
    remover.start();
    ASSERT_TRUE(eventually([&] { return remover.isFinished() || (remover.id() != 0 && sleepsInKernel(remover.id())); }))
        << "the remover neither blocked nor finished";
    tick.open();
    ASSERT_TRUE(remover.joinFor(WaitMs)) << "removeActor did not return after the tick ended";
    EXPECT_FALSE(returnedDuringTick) << "removeActor returned while the loop was still ticking the actor";

    int removedIdles = removed.idles;
    int keptIdles = kept.idles;
    ASSERT_TRUE(eventually([&] { return kept.idles > keptIdles + 1; })) << "the loop stopped ticking";
    EXPECT_EQ(removed.idles, removedIdles) << "a removed actor was ticked again";
    EXPECT_EQ(loop.actorCount(), 1);
    loop.stop();
    ASSERT_TRUE(loop.joinFor(WaitMs)) << "the loop did not stop";
}

TEST(ActionLoop, AnActionDueAlreadyRunsWithoutWaitingForTheRoundsPauseAndSoDoesTheOneItAsksFor) {
    ManualClock clock(at(1, 12, 0));
    RecordingActor actor;
    // Rounds a minute apart: only a wake-up lets the actions below run within the wait.
    ActionLoop loop(60000);
    StopsLoop stopLoop{loop};
    ASSERT_TRUE(startedWith(loop, actor)) << "the loop never ticked";
    actor.requestAction(7, clock.now());
    ASSERT_TRUE(eventually([&] { return actor.fired().size() >= 2; }))
        << "fired " << text(actor.fired()) << "while the loop paused between rounds";
    EXPECT_EQ(actor.fired(), (Ids{7, 8}));

    // An actor taken off the loop may still be asked for actions; they are not run. A
    // loop stopped in its pause leaves at once.
    loop.removeActor(&actor);
    actor.requestAction(9, clock.now());
    loop.stop();
    ASSERT_TRUE(loop.joinFor(WaitMs)) << "the loop slept through its stop";
    EXPECT_EQ(actor.fired(), (Ids{7, 8}));
}
