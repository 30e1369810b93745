#pragma once

#include "base/thread/Condition.h"
#include "base/thread/Mutex.h"

// Ends a looping thread's pause between rounds early. Shared by the loop and whatever may
// wake it (an ActionLoop's actors), so either may outlive the other.
class LoopWakeUp {
public:
    // Ends the pause under way, or the next one when none is.
    void request();
    // Waits up to `milliseconds` unless a wake-up is pending; clears the pending one.
    void pause(int milliseconds);

private:
    Mutex _mutex;
    Condition _woken{_mutex};
    bool _requested = false;
};
