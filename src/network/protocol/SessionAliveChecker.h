#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>

#include "base/thread/LoopingThread.h"
#include "base/thread/Mutex.h"

class CommonSession;

// Watches every connected session for silence, once per round (a second by default),
// reading elapsed time from Clock::current().tickCount():
// - no packet for more than the idle time (120 s): send an alive check, and if one is
//   already outstanding and the silence passes the dead time (240 s), close with 312;
// - a recorder without the newer alive-check scheme also gets a check whenever nothing was
//   sent for the legacy interval (20 s) while logged in.
// A session still in its handshake gets no checks but is closed after the dead time, so a
// recorder that stops answering mid-handshake cannot hold a connection forever. A session
// whose reading is on hold (its consumer is slow) is never closed for silence.
//
// One instance per process: created and started with the first session, stopped and
// joined with the last (acquire/release). It parks while it watches nothing. add/remove
// may be called from any thread, also from inside a round.
class SessionAliveChecker : public LoopingThread {
public:
    struct Timings {
        uint32_t idleMs = 120000;
        uint32_t deadMs = 240000;
        uint32_t legacyMs = 20000;
        int roundMs = 1000;
    };

    // The periods in force for every session of the process (tests shorten them).
    static void setTimings(const Timings& timings);
    static Timings timings();
    // For tests: runs on the checker's thread in a round, after it has read the clock and
    // before it checks the first session (under the set mutex), so a test can hold the
    // round there. Empty to remove.
    using RoundHook = std::function<void()>;
    static void setHookAfterClockRead(RoundHook hook);

    static void acquire();
    static void release();
    // The running instance; only while at least one session holds it.
    static SessionAliveChecker& instance();

    void add(CommonSession* session);
    void remove(CommonSession* session);
    bool isWatching(CommonSession* session);
    // Rounds completed so far (tests wait for one to pass after moving the clock).
    uint64_t rounds() const { return _rounds.load(); }

    void stop() override;
    void onStart() override;
    void runOnce() override;
    void onStop() override;

private:
    SessionAliveChecker();
    void check(CommonSession& session, const Timings& timings, uint32_t now);
    void pause(int milliseconds);

    Mutex _setMutex;
    std::set<CommonSession*> _sessions;
    std::mutex _sleepMutex;
    std::condition_variable _sleep;
    bool _woken = false;
    std::atomic<uint64_t> _rounds{0};
};
