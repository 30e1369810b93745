#pragma once

#include <memory>

#include "base/DateTime.h"
#include "base/thread/Mutex.h"
#include "base/thread/ScheduledActionList.h"

class LoopWakeUp;

// Something driven by an ActionLoop: on every tick it either runs one action that is due
// (a daily scheduled action, or one requested for a given moment) through onAction(), or
// calls onIdle(). Time is read from Clock::current().
//
// requestAction(), scheduleAction() and clearSchedule() may be called from any thread.
// tick() runs on the loop's thread and calls onIdle()/onAction() without holding the
// actor's mutex, so those may request or schedule actions of the same actor. An action
// requested for a moment that has come already wakes the loop the actor is on, so it runs
// at once rather than after the loop's pause.
class Actor {
public:
    static constexpr int NoAction = -1;

    Actor() = default;
    virtual ~Actor() = default;
    Actor(const Actor&) = delete;
    Actor& operator=(const Actor&) = delete;

    virtual void onIdle() = 0;
    virtual void onAction(int actionId) = 0;
    // Drops any pending request and starts today's schedule at the current time.
    virtual void start();

    // Asks for `actionId` at `at` (or at the next tick when `at` has passed). Replaces an
    // earlier request that has not run yet.
    void requestAction(int actionId, const DateTime& at);
    // Adds a daily action at time of day `at`.
    void scheduleAction(int actionId, const Time& at);
    void clearSchedule();

    // One round: runs the action due now, if any, or onIdle().
    void tick();

    // How to wake the loop that ticks this actor: set by the loop when it adds the actor,
    // cleared when it removes it.
    void setWakeUp(std::shared_ptr<LoopWakeUp> wakeUp);

private:
    // Takes the action due at `now` off the actor: NoAction when nothing is due yet.
    int takeDueAction(const DateTime& now);

    ScheduledActionList _schedule;
    int _pendingAction = NoAction;
    DateTime _pendingTime;
    std::shared_ptr<LoopWakeUp> _wakeUp;
    Mutex _mutex;
};
