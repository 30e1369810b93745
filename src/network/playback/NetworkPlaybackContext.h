#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/thread/Condition.h"
#include "base/thread/ISingleton.h"
#include "base/thread/LoopingThread.h"
#include "base/thread/Mutex.h"
#include "network/protocol/playback/PlaybackClientFacade.h"

class NetworkPlaybackSession;

// The process-wide playback facade: 100 sessions on one dispatcher ("NetworkPlaybackContext
// Dispatcher"), shared by every playback client. It maps each handle to its owner and
// routes every notification of that handle to it.
//
// A recorder that keeps the connection alive but never answers a playback request would
// hold its client (and whoever waits on it) for ever: a watchdog thread looks once per
// round, on the process clock, at every owner still waiting for an answer, and ends the
// connection of one that has waited longer than the reply time-out with reason 312 (the
// recorder does not answer), on which the archiving schedules reconnect.
//
// Threads: connect/disconnect/isConnected/forget from any thread; notifications arrive on
// the dispatcher's worker. The context mutex guards the handle map; it is taken before
// the facade's own mutexes. It is not held while an owner is called back: the owner being
// called is marked instead, and forget() waits until that call has returned (unless it is
// made from inside the call), so an owner can be destroyed as soon as forget() returns.
// Owners may therefore call back into the context (and block on a full media queue)
// without holding up other threads that connect or disconnect.
class NetworkPlaybackContext : public PlaybackClientFacade, public ISingleton {
public:
    static constexpr int SessionCount = 100;

    struct Timings {
        uint32_t replyTimeoutMs = 120000;
        int roundMs = 1000;  // real time between two looks of the watchdog
    };
    // The periods in force (tests shorten the round).
    static void setTimings(const Timings& timings);
    static Timings timings();

    // Created and started on first use.
    static NetworkPlaybackContext& instance();
    // Stops the facade if it was ever created (at process exit).
    static void shutdown();

    // Starts connecting and logging in; the handle, or -1 when no session is free. Throws
    // SocketAddressInfoException when the host name does not resolve.
    int connect(NetworkPlaybackSession& owner, const std::string& host, uint16_t port, const std::string& user,
                const std::string& password);
    // Closes the handle's connection; `requested` makes the owner see reason 301.
    void disconnect(int handle, bool requested);
    bool isConnected(int handle);
    // Drops every handle of the owner; no call reaches it afterwards.
    void forget(NetworkPlaybackSession& owner);
    // Rounds the watchdog has completed (tests wait for one to pass after moving the clock).
    uint64_t watchdogRounds() const { return _watchdogRounds.load(); }
    // For tests: runs on the watchdog thread in a look at the owners, after it has read the
    // clock and before it asks the first owner, so a test can hold the look there. Empty to
    // remove.
    using LookHook = std::function<void()>;
    void setHookAfterClockRead(LookHook hook);
    void stop() override;

    // ---- facade notifications ---------------------------------------------------------
    void disconnected(int handle, int reason, void* owner) override;
    void connected(int handle, void* owner) override;
    void loginSucceeded(int handle, const LoginResult& result) override;
    void loginFailed(int handle, const LoginResult& result) override;
    void finReceived(int handle, const FinOption& fin) override;
    void systemInfoReceived(int handle, const RemoteSystemInfo& info) override;
    void productInfoReceived(int handle, const ProductInfo& info) override;
    void recordingCalendarReceived(int handle, const std::vector<Date>& dates) override;
    void recordingTimeTableReceived(int handle, const std::vector<RecordedSlice>& slices) override;
    void sectionListReceived(int handle, BitMask32 channels, const Interval& interval,
                             const std::vector<uint32_t>& sections) override;
    void mediaFrameReceived(int handle, const MediaFrame& frame, bool flag, const MediaPosition& position) override;
    void playbackStopped(int handle, int reason) override;
    void eventCalendarReceived(int handle, const std::vector<Date>& dates) override;
    void eventListReceived(int handle, const EventListResponse& list) override;
    void textInFrameReceived(int handle, const TextInFrame& frame, bool flag, const MediaPosition& position) override;
    void textInEventListReceived(int handle, const TextInEventListResponse& list) override;
    void storageListReceived(int handle, const StorageListResponse& list) override;
    void storageChanged(int handle) override;

private:
    class Watchdog : public LoopingThread {
    public:
        explicit Watchdog(NetworkPlaybackContext& owner)
            : LoopingThread("NetworkPlaybackContext Watchdog"), _owner(owner) {}
        void runOnce() override;
        void stop() override;

    private:
        NetworkPlaybackContext& _owner;
        Mutex _sleepMutex;
        Condition _wake{_sleepMutex};
    };

    NetworkPlaybackContext();
    // Ends the connections whose owners waited too long for an answer.
    void endOverdueWaits();

    // Calls `call(owner)` for the owner of `handle`, if it has one, marked busy meanwhile.
    template <typename Call>
    void route(int handle, Call call);
    NetworkPlaybackSession* ownerOf(int handle);
    bool isBusyElsewhere(NetworkPlaybackSession* owner) const;

    Mutex _mutex;
    Condition _released{_mutex};
    std::map<int, NetworkPlaybackSession*> _owners;
    // The owners being called back right now, with the calling thread.
    std::vector<std::pair<NetworkPlaybackSession*, uint32_t>> _busy;
    LookHook _hookAfterClockRead;  // under the mutex
    Watchdog _watchdog{*this};
    std::atomic<uint64_t> _watchdogRounds{0};
};
