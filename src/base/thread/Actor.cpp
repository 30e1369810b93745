#include "base/thread/Actor.h"

#include <mutex>

#include "base/Clock.h"
#include "base/thread/LoopWakeUp.h"

void Actor::start() {
    std::lock_guard<Mutex> guard(_mutex);
    DateTime now = Clock::current().now();
    _pendingAction = NoAction;
    _pendingTime = now;
    _schedule.begin(now);
}

void Actor::requestAction(int actionId, const DateTime& at) {
    std::lock_guard<Mutex> guard(_mutex);
    _pendingAction = actionId;
    _pendingTime = at;
    if (_wakeUp && !at.greaterThan(Clock::current().now())) {
        _wakeUp->request();
    }
}

void Actor::setWakeUp(std::shared_ptr<LoopWakeUp> wakeUp) {
    std::lock_guard<Mutex> guard(_mutex);
    _wakeUp = std::move(wakeUp);
}

void Actor::scheduleAction(int actionId, const Time& at) {
    std::lock_guard<Mutex> guard(_mutex);
    _schedule.add(actionId, at);
}

void Actor::clearSchedule() {
    std::lock_guard<Mutex> guard(_mutex);
    _schedule.clear();
}

void Actor::tick() {
    int actionId = takeDueAction(Clock::current().now());
    if (actionId == NoAction) {
        onIdle();
    } else {
        onAction(actionId);
    }
}

// The pending request is cleared in the same locked step that finds it due, so a request
// made by another thread while the action runs is kept for a later tick.
int Actor::takeDueAction(const DateTime& now) {
    std::lock_guard<Mutex> guard(_mutex);
    int scheduled = _schedule.due(now);
    if (scheduled != NoAction) {
        _pendingAction = scheduled;
        _pendingTime = now;
    }
    if (_pendingAction == NoAction || _pendingTime.greaterThan(now)) {
        return NoAction;
    }
    int actionId = _pendingAction;
    _pendingAction = NoAction;
    return actionId;
}
