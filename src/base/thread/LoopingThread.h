#pragma once

#include <atomic>

#include "base/thread/Condition.h"
#include "base/thread/Mutex.h"
#include "base/thread/Thread.h"

// A thread that calls runOnce() round after round until stopped, and can be parked
// between rounds. Subclasses put their work in onStart(), runOnce() and onStop(), all
// called on the thread itself.
//
// suspend(), resume() and stop() may be called from any thread and never wait for a round
// to finish: the loop's mutex is held only around the parking check, never during
// runOnce(). A suspended loop parks at the top of its next round; stop() wakes a parked
// loop, which then leaves without another round. Owners join() after stop().
class LoopingThread : public Thread {
public:
    static constexpr int NotRunning = 0;
    static constexpr int Running = 1;
    static constexpr int Suspended = 2;

    explicit LoopingThread(const char* name);
    ~LoopingThread() override = default;

    // Clears an earlier stop request, so a stopped and joined loop can be started again.
    void start() override;
    void run() override;
    // Asks the loop to end after the current round; wakes it when parked. Does not wait.
    virtual void stop();
    virtual void onStart() {}
    virtual void runOnce() {}
    virtual void onStop() {}

    // Parks the loop at the top of its next round (only while it runs and no stop is asked).
    void suspend();
    // Releases a parked (or about to park) loop.
    void resume();

    int state() const { return _state.load(std::memory_order_acquire); }
    bool stopRequested() const { return _stopRequested.load(std::memory_order_acquire); }

private:
    // Parks while suspended; false when the loop should leave instead of running a round.
    bool awaitRound();

    std::atomic<bool> _stopRequested{false};
    std::atomic<int> _state{NotRunning};
    Mutex _mutex;
    Condition _resumed{_mutex};
};
