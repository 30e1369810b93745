#include "base/thread/Condition.h"

#include <chrono>

void Condition::wait() {
    auto self = _waiters.emplace(_waiters.end());
    while (!self->released) {
        self->wake.wait(_mutex);
    }
    _waiters.erase(self);
}

bool Condition::waitFor(int milliseconds) {
    if (milliseconds <= 0) {
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    auto self = _waiters.emplace(_waiters.end());
    while (!self->released) {
        if (self->wake.wait_until(_mutex, deadline) == std::cv_status::timeout) {
            break;
        }
    }
    // A notification that arrived together with the time-out still counts as a wake-up.
    bool woken = self->released;
    _waiters.erase(self);
    return woken;
}

void Condition::notify() {
    for (Waiter& waiter : _waiters) {
        if (!waiter.released) {
            waiter.released = true;
            waiter.wake.notify_one();
            return;
        }
    }
}

void Condition::notifyAll() {
    for (Waiter& waiter : _waiters) {
        if (!waiter.released) {
            waiter.released = true;
            waiter.wake.notify_one();
        }
    }
}

int Condition::waiterCount() const {
    int count = 0;
    for (const Waiter& waiter : _waiters) {
        count += waiter.released ? 0 : 1;
    }
    return count;
}
