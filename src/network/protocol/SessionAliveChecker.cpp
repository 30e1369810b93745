#include "network/protocol/SessionAliveChecker.h"

#include <chrono>
#include <vector>

#include "base/Clock.h"
#include "base/SendQueueOverflowException.h"
#include "base/Trace.h"
#include "network/protocol/CommonSession.h"
#include "network/session/DisconnectReason.h"

namespace {

std::mutex& processMutex() {
    static std::mutex mutex;
    return mutex;
}

std::mutex timingsMutex;
SessionAliveChecker::Timings currentTimings;
SessionAliveChecker::RoundHook hookAfterClockRead;  // under timingsMutex
int users = 0;  // guarded by processMutex()
std::atomic<SessionAliveChecker*> running{nullptr};

}  // namespace

void SessionAliveChecker::setTimings(const Timings& timings) {
    std::lock_guard<std::mutex> guard(timingsMutex);
    currentTimings = timings;
}

SessionAliveChecker::Timings SessionAliveChecker::timings() {
    std::lock_guard<std::mutex> guard(timingsMutex);
    return currentTimings;
}

void SessionAliveChecker::setHookAfterClockRead(RoundHook hook) {
    std::lock_guard<std::mutex> guard(timingsMutex);
    hookAfterClockRead = std::move(hook);
}

SessionAliveChecker::SessionAliveChecker() : LoopingThread("SessionAliveChecker") {}

void SessionAliveChecker::acquire() {
    std::lock_guard<std::mutex> guard(processMutex());
    if (users++ == 0) {
        auto* checker = new SessionAliveChecker();
        running.store(checker);
        checker->start();
    }
}

void SessionAliveChecker::release() {
    SessionAliveChecker* finished = nullptr;
    {
        std::lock_guard<std::mutex> guard(processMutex());
        if (users == 0 || --users > 0) {
            return;
        }
        finished = running.exchange(nullptr);
        // Joined under the process mutex, so that a new first session cannot start a second
        // checker while this one is still winding down.
        finished->stop();
        finished->join();
    }
    delete finished;
}

SessionAliveChecker& SessionAliveChecker::instance() {
    return *running.load();
}

void SessionAliveChecker::add(CommonSession* session) {
    std::lock_guard<Mutex> guard(_setMutex);
    _sessions.insert(session);
    resume();
}

void SessionAliveChecker::remove(CommonSession* session) {
    std::lock_guard<Mutex> guard(_setMutex);
    _sessions.erase(session);
    if (_sessions.empty()) {
        suspend();
    }
}

bool SessionAliveChecker::isWatching(CommonSession* session) {
    std::lock_guard<Mutex> guard(_setMutex);
    return _sessions.count(session) != 0;
}

void SessionAliveChecker::stop() {
    LoopingThread::stop();
    std::lock_guard<std::mutex> guard(_sleepMutex);
    _woken = true;
    _sleep.notify_all();
}

void SessionAliveChecker::onStart() {
    std::lock_guard<Mutex> guard(_setMutex);
    if (_sessions.empty()) {
        suspend();
    }
}

void SessionAliveChecker::onStop() {
    std::lock_guard<Mutex> guard(_setMutex);
    _sessions.clear();
}

void SessionAliveChecker::runOnce() {
    Timings timings;
    RoundHook hook;
    {
        std::lock_guard<std::mutex> guard(timingsMutex);
        timings = currentTimings;
        hook = hookAfterClockRead;
    }
    {
        std::lock_guard<Mutex> guard(_setMutex);
        // A copy: closing a session may remove it from the set on this very thread.
        std::vector<CommonSession*> sessions(_sessions.begin(), _sessions.end());
        // Nothing watched: the clock is left alone (a test's clock may be on its way out).
        uint32_t now = sessions.empty() ? 0 : Clock::current().tickCount();
        if (hook && !sessions.empty()) {
            hook();
        }
        for (CommonSession* session : sessions) {
            try {
                check(*session, timings, now);
            } catch (const SendQueueOverflowException&) {
                // A full queue will drain, a closing session goes: the next round tries
                // again, and the other sessions are checked in this one.
            }
        }
    }
    ++_rounds;
    pause(timings.roundMs);
}

namespace {

// Milliseconds from `tick` to `now`. The network thread stamps a packet while a round is
// under way, so `tick` may come after the round's `now`: that is no time at all, where the
// unsigned difference would make it 49 days. Signed, it also survives the tick count's wrap.
uint32_t since(uint32_t tick, uint32_t now) {
    int32_t elapsed = static_cast<int32_t>(now - tick);
    return elapsed > 0 ? static_cast<uint32_t>(elapsed) : 0;
}

}  // namespace

void SessionAliveChecker::check(CommonSession& session, const Timings& timings, uint32_t now) {
    SessionState state = session.state();
    uint32_t silent = since(session.lastReceiveTick(), now);
    if (silent > timings.idleMs) {
        bool handshaking = state == SessionState::CONNECTING;
        if (session.aliveCheckOutstanding() || handshaking) {
            // Held: nothing is read from it, so its answer cannot have been seen yet.
            bool held = session.isReceiveHeld();
            if (silent > timings.deadMs && !held &&
                (state == SessionState::CONNECTING || state == SessionState::CONNECTED)) {
                session.close(DisconnectReason::NoAliveAnswer);
                QF_TRACE("REMOTE : SESSION NO RESPONSE, DISCONNECT BY FORCE");
                return;
            }
        } else {
            session.sendAliveCheck(false);
        }
    }
    if (!session.newAliveCheck() && state == SessionState::CONNECTED &&
        since(session.lastSendTick(), now) > timings.legacyMs) {
        session.sendAliveCheck(false);
    }
}

void SessionAliveChecker::pause(int milliseconds) {
    std::unique_lock<std::mutex> lock(_sleepMutex);
    _sleep.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return _woken; });
}
