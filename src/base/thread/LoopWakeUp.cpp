#include "base/thread/LoopWakeUp.h"

#include <mutex>

void LoopWakeUp::request() {
    std::lock_guard<Mutex> guard(_mutex);
    _requested = true;
    _woken.notifyAll();
}

void LoopWakeUp::pause(int milliseconds) {
    std::lock_guard<Mutex> guard(_mutex);
    if (!_requested) {
        _woken.waitFor(milliseconds);
    }
    _requested = false;
}
