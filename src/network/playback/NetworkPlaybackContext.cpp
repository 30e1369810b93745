#include "network/playback/NetworkPlaybackContext.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>

#include "base/Clock.h"
#include "base/Trace.h"
#include "base/thread/Thread.h"
#include "network/playback/NetworkPlaybackSession.h"
#include "network/protocol/Login.h"
#include "network/session/DisconnectReason.h"

namespace {
std::atomic<NetworkPlaybackContext*> theContext{nullptr};
std::mutex timingsMutex;
NetworkPlaybackContext::Timings currentTimings;
}  // namespace

void NetworkPlaybackContext::setTimings(const Timings& timings) {
    std::lock_guard<std::mutex> guard(timingsMutex);
    currentTimings = timings;
}

NetworkPlaybackContext::Timings NetworkPlaybackContext::timings() {
    std::lock_guard<std::mutex> guard(timingsMutex);
    return currentTimings;
}

NetworkPlaybackContext::NetworkPlaybackContext()
    : PlaybackClientFacade(SessionCount, "NetworkPlaybackContext Dispatcher") {}

NetworkPlaybackContext& NetworkPlaybackContext::instance() {
    return createOnce(theContext, [] {
        auto* context = new NetworkPlaybackContext();
        context->start();
        context->_watchdog.start();
        std::atexit(&NetworkPlaybackContext::shutdown);
        return context;
    });
}

void NetworkPlaybackContext::shutdown() {
    if (NetworkPlaybackContext* context = theContext.load()) {
        context->stop();
    }
}

int NetworkPlaybackContext::connect(NetworkPlaybackSession& owner, const std::string& host, uint16_t port,
                                    const std::string& user, const std::string& password) {
    // Resolved before the mutex is taken: a slow name server must not hold up the
    // notifications of every other connection.
    SocketAddress address(host.c_str(), port);
    Login login(user.c_str(), password.c_str());
    // Held across the facade's connect so that no notification of the new handle can be
    // routed before the handle is known to belong to `owner`, and before the owner holds
    // it: a connect refused at once is reported right after the mutex is released, and
    // that report must find (and clear) the new handle, not an older one.
    std::lock_guard<Mutex> guard(_mutex);
    owner.closeRequested.store(false);
    owner.connectedFlag.store(false);
    owner.loginResult.clear();
    int handle = PlaybackClientFacade::connect(address, login, &owner);
    if (handle != -1) {
        _owners[handle] = &owner;
        owner.handle.store(handle);
    }
    return handle;
}

void NetworkPlaybackContext::disconnect(int handle, bool requested) {
    if (handle == -1) {
        return;
    }
    {
        std::lock_guard<Mutex> guard(_mutex);
        if (NetworkPlaybackSession* owner = ownerOf(handle)) {
            owner->closeRequested.store(requested);
        }
    }
    close(handle);
}

bool NetworkPlaybackContext::isConnected(int handle) {
    std::lock_guard<Mutex> guard(_mutex);
    NetworkPlaybackSession* owner = ownerOf(handle);
    return owner != nullptr && (owner->connectedFlag.load() || owner->loginResult.succeeded());
}

bool NetworkPlaybackContext::isBusyElsewhere(NetworkPlaybackSession* owner) const {
    uint32_t self = Thread::currentThreadId();
    return std::any_of(_busy.begin(), _busy.end(),
                       [&](const auto& entry) { return entry.first == owner && entry.second != self; });
}

void NetworkPlaybackContext::forget(NetworkPlaybackSession& owner) {
    std::lock_guard<Mutex> guard(_mutex);
    for (auto it = _owners.begin(); it != _owners.end();) {
        it = it->second == &owner ? _owners.erase(it) : std::next(it);
    }
    while (isBusyElsewhere(&owner)) {
        _released.wait();
    }
}

void NetworkPlaybackContext::setHookAfterClockRead(LookHook hook) {
    std::lock_guard<Mutex> guard(_mutex);
    _hookAfterClockRead = std::move(hook);
}

void NetworkPlaybackContext::stop() {
    _watchdog.stop();
    _watchdog.join();
    PlaybackClientFacade::stop();
    std::lock_guard<Mutex> guard(_mutex);
    _owners.clear();
}

NetworkPlaybackSession* NetworkPlaybackContext::ownerOf(int handle) {
    auto found = _owners.find(handle);
    if (found == _owners.end()) {
        return nullptr;
    }
    // An owner that connected again has moved on: what still arrives for its earlier
    // handle must not reach it, or the end of the earlier connection would be taken for the
    // end of the current one (and the current one left open with nobody to close it).
    return found->second->handle.load() == handle ? found->second : nullptr;
}

template <typename Call>
void NetworkPlaybackContext::route(int handle, Call call) {
    NetworkPlaybackSession* owner = nullptr;
    uint32_t self = Thread::currentThreadId();
    {
        std::lock_guard<Mutex> guard(_mutex);
        owner = ownerOf(handle);
        if (owner == nullptr) {
            return;
        }
        _busy.emplace_back(owner, self);
    }
    auto done = [&] {
        std::lock_guard<Mutex> guard(_mutex);
        auto found = std::find(_busy.begin(), _busy.end(), std::make_pair(owner, self));
        if (found != _busy.end()) {
            _busy.erase(found);
        }
        _released.notifyAll();
    };
    try {
        call(*owner);
    } catch (...) {
        done();
        throw;
    }
    done();
}

// ---- the watchdog ----------------------------------------------------------------------

void NetworkPlaybackContext::Watchdog::runOnce() {
    _owner.endOverdueWaits();
    ++_owner._watchdogRounds;
    std::lock_guard<Mutex> guard(_sleepMutex);
    if (!stopRequested()) {
        _wake.waitFor(NetworkPlaybackContext::timings().roundMs);
    }
}

void NetworkPlaybackContext::Watchdog::stop() {
    LoopingThread::stop();
    std::lock_guard<Mutex> guard(_sleepMutex);
    _wake.notifyAll();
}

void NetworkPlaybackContext::endOverdueWaits() {
    uint32_t limit = timings().replyTimeoutMs;
    uint32_t now = 0;
    std::vector<int> handles;
    LookHook hook;
    {
        // The clock is read only while someone is watched, and under the mutex that
        // forget() takes: once the last owner is forgotten, the clock is left alone.
        std::lock_guard<Mutex> guard(_mutex);
        if (_owners.empty()) {
            return;
        }
        now = Clock::current().tickCount();
        for (const auto& entry : _owners) {
            handles.push_back(entry.first);
        }
        hook = _hookAfterClockRead;
    }
    if (hook) {
        hook();
    }
    for (int handle : handles) {
        bool overdue = false;
        route(handle, [&](NetworkPlaybackSession& o) { overdue = o.replyOverdue(now, limit); });
        if (overdue) {
            QF_TRACE("NetworkPlaybackContext: handle %d: no answer to a playback request for %u ms\n", handle,
                     limit);
            close(handle, DisconnectReason::NoAliveAnswer);
        }
    }
}

// ---- notifications -------------------------------------------------------------------------

void NetworkPlaybackContext::disconnected(int handle, int reason, void*) {
    // The owner is found through the map, never through the pointer the session kept: an
    // owner that was forgotten may be gone already.
    NetworkPlaybackSession* owner = nullptr;
    {
        std::lock_guard<Mutex> guard(_mutex);
        owner = ownerOf(handle);
        if (owner == nullptr) {
            _owners.erase(handle);  // unknown, or a connection its owner has replaced
            return;
        }
        if (owner->closeRequested.exchange(false)) {
            reason = DisconnectReason::ClosedByClient;
        }
        owner->connectedFlag.store(false);
    }
    route(handle, [&](NetworkPlaybackSession& o) { o.disconnected(reason); });
    std::lock_guard<Mutex> guard(_mutex);
    _owners.erase(handle);
}

void NetworkPlaybackContext::connected(int handle, void*) {
    std::lock_guard<Mutex> guard(_mutex);
    if (NetworkPlaybackSession* owner = ownerOf(handle)) {
        owner->connectedFlag.store(true);
    }
}

void NetworkPlaybackContext::loginSucceeded(int handle, const LoginResult& result) {
    {
        std::lock_guard<Mutex> guard(_mutex);
        if (NetworkPlaybackSession* owner = ownerOf(handle)) {
            owner->loginResult = result;
        }
    }
    route(handle, [&](NetworkPlaybackSession& o) { o.connected(); });
}

void NetworkPlaybackContext::loginFailed(int handle, const LoginResult& result) {
    std::lock_guard<Mutex> guard(_mutex);
    if (NetworkPlaybackSession* owner = ownerOf(handle)) {
        owner->loginResult = result;
    }
}

void NetworkPlaybackContext::finReceived(int, const FinOption&) {}

void NetworkPlaybackContext::systemInfoReceived(int handle, const RemoteSystemInfo& info) {
    route(handle, [&](NetworkPlaybackSession& o) { o.systemInfoReceived(info); });
}

void NetworkPlaybackContext::productInfoReceived(int handle, const ProductInfo& info) {
    route(handle, [&](NetworkPlaybackSession& o) { o.productInfoReceived(info); });
}

void NetworkPlaybackContext::recordingCalendarReceived(int handle, const std::vector<Date>& dates) {
    route(handle, [&](NetworkPlaybackSession& o) { o.recordingCalendarReceived(dates); });
}

void NetworkPlaybackContext::recordingTimeTableReceived(int handle, const std::vector<RecordedSlice>& slices) {
    route(handle, [&](NetworkPlaybackSession& o) { o.recordingTimeTableReceived(slices); });
}

void NetworkPlaybackContext::sectionListReceived(int handle, BitMask32 channels, const Interval& interval,
                                                 const std::vector<uint32_t>& sections) {
    route(handle, [&](NetworkPlaybackSession& o) { o.sectionListReceived(channels, interval, sections); });
}

void NetworkPlaybackContext::mediaFrameReceived(int handle, const MediaFrame& frame, bool flag,
                                                const MediaPosition& position) {
    route(handle, [&](NetworkPlaybackSession& o) { o.mediaFrameReceived(frame, flag, position); });
}

void NetworkPlaybackContext::playbackStopped(int handle, int reason) {
    route(handle, [&](NetworkPlaybackSession& o) { o.playbackStopped(reason); });
}

void NetworkPlaybackContext::eventCalendarReceived(int handle, const std::vector<Date>& dates) {
    route(handle, [&](NetworkPlaybackSession& o) { o.eventCalendarReceived(dates); });
}

void NetworkPlaybackContext::eventListReceived(int handle, const EventListResponse& list) {
    route(handle, [&](NetworkPlaybackSession& o) { o.eventListReceived(list); });
}

void NetworkPlaybackContext::textInFrameReceived(int handle, const TextInFrame& frame, bool,
                                                 const MediaPosition& position) {
    route(handle, [&](NetworkPlaybackSession& o) { o.textInFrameReceived(frame, position); });
}

void NetworkPlaybackContext::textInEventListReceived(int handle, const TextInEventListResponse& list) {
    route(handle, [&](NetworkPlaybackSession& o) { o.textInEventListReceived(list); });
}

void NetworkPlaybackContext::storageListReceived(int handle, const StorageListResponse& list) {
    route(handle, [&](NetworkPlaybackSession& o) { o.storageListReceived(list); });
}

void NetworkPlaybackContext::storageChanged(int handle) {
    route(handle, [&](NetworkPlaybackSession& o) { o.storageChanged(); });
}
