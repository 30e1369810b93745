#include "base/thread/LoopingThread.h"

#include "base/Trace.h"

LoopingThread::LoopingThread(const char* name) : Thread(name) {}

void LoopingThread::start() {
    // Waits for an earlier run to end first, so its stop request is not withdrawn.
    join();
    _stopRequested.store(false, std::memory_order_release);
    Thread::start();
}

void LoopingThread::run() {
    _state.store(Running, std::memory_order_release);
    onStart();
    while (awaitRound()) {
        runOnce();
    }
    onStop();
    _state.store(NotRunning, std::memory_order_release);
}

bool LoopingThread::awaitRound() {
    std::lock_guard<Mutex> guard(_mutex);
    if (stopRequested()) {
        return false;
    }
    if (state() == Suspended) {
        QF_TRACE("%s: Thread suspended.", printableName());
        // resume() changes the state before notifying, under this mutex, so re-checking it
        // here means no wake-up can be missed and none is taken for a later suspend.
        while (state() == Suspended && !stopRequested()) {
            _resumed.wait();
        }
        QF_TRACE("%s: Thread resumed.", printableName());
    }
    return !stopRequested();
}

void LoopingThread::stop() {
    {
        std::lock_guard<Mutex> guard(_mutex);
        _stopRequested.store(true, std::memory_order_release);
    }
    resume();
}

void LoopingThread::suspend() {
    std::lock_guard<Mutex> guard(_mutex);
    if (!stopRequested() && state() == Running) {
        _state.store(Suspended, std::memory_order_release);
    }
}

void LoopingThread::resume() {
    std::lock_guard<Mutex> guard(_mutex);
    if (state() == Suspended) {
        _state.store(Running, std::memory_order_release);
        _resumed.notify();
    }
}
