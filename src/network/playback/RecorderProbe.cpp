#include "network/playback/RecorderProbe.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "network/playback/IPlaybackClientListener.h"
#include "network/playback/NetworkPlaybackClient.h"
#include "network/session/DisconnectReason.h"

namespace {

// What one probe has heard so far; wakes the prober on every change.
struct ProbeState {
    template <typename F>
    void note(F change) {
        {
            std::lock_guard<std::mutex> guard(mutex);
            change();
        }
        changed.notify_all();
    }
    // Waits until `done` holds or the connection is gone; true when `done` holds.
    template <typename Pred>
    bool waitFor(int ms, Pred done) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return done() || gone; }) && done();
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool loggedIn = false;
    bool gone = false;
    int reason = 0;
    bool hasCalendar = false;
    bool hasTimeTable = false;
    std::vector<Date> calendar;
    std::vector<RecordedSlice> timeTable;
};

class ProbeListener : public IPlaybackClientListener {
public:
    explicit ProbeListener(ProbeState& state) : _state(state) {}
    void connected(int) override {
        _state.note([&] { _state.loggedIn = true; });
    }
    void disconnected(int, int reason) override {
        _state.note([&] {
            _state.gone = true;
            _state.reason = reason;
        });
    }
    void recordingTimeTableReceived(int, const std::vector<RecordedSlice>& slices) override {
        _state.note([&] {
            _state.timeTable = slices;
            _state.hasTimeTable = true;
        });
    }

private:
    ProbeState& _state;
};

// The playback client keeps calendars to itself; the probe wants it.
class ProbeClient : public NetworkPlaybackClient {
public:
    explicit ProbeClient(ProbeState& state) : _state(state) {}
    void recordingCalendarReceived(const std::vector<Date>& dates) override {
        _state.note([&] {
            _state.calendar = dates;
            _state.hasCalendar = true;
        });
    }

private:
    ProbeState& _state;
};

void fail(RecorderProbeResult& result, int reason) {
    result.ok = false;
    result.reason = reason;
    result.explanation = RecorderProbe::explain(reason);
}

// The channels of a recorder's video inputs (all when it did not say).
BitMask32 videoChannels(const RemoteSystemInfo& info) {
    int inputs = std::clamp(static_cast<int>(info.VideoInNum), 0, 32);
    if (inputs == 0 || inputs == 32) {
        return BitMask32(0xFFFFFFFFu);
    }
    return BitMask32((1u << inputs) - 1);
}

}  // namespace

RecorderProbeResult RecorderProbe::run(const SiteAddress& site) {
    RecorderProbeResult result;
    ProbeState state;
    ProbeListener listener(state);
    ProbeClient client(state);
    client.attach(0, &listener);
    int handle = client.connect(site.host, site.port, site.user, site.password);
    if (handle == -1) {
        fail(result, client.lastConnectError() != 0 ? client.lastConnectError() : DisconnectReason::ChannelFull);
        client.detach();
        return result;
    }

    bool done = state.waitFor(_stepTimeoutMs, [&] { return state.loggedIn; });
    if (done) {
        result.product = client.productInfo();
        result.system = client.systemInfo();
        done = client.requestRecordingCalendar() && state.waitFor(_stepTimeoutMs, [&] { return state.hasCalendar; });
    }
    if (done) {
        Interval everything(DateTime(1900, 1, 1, 0, 0, 0), DateTime(2100, 12, 31, 23, 59, 59));
        done = client.requestRecordingTimeTable(everything, videoChannels(result.system)) &&
               state.waitFor(_stepTimeoutMs, [&] { return state.hasTimeTable; });
    }
    {
        std::lock_guard<std::mutex> guard(state.mutex);
        if (done) {
            result.ok = true;
            result.calendar = state.calendar;
            result.timeTable = state.timeTable;
        } else {
            fail(result, state.gone ? state.reason : DisconnectReason::TimedOut);
        }
    }

    client.disconnect(true);
    state.waitFor(_stepTimeoutMs, [] { return false; });  // until the disconnect is reported
    client.detach();
    return result;
}

std::string RecorderProbe::explain(int reason) {
    switch (reason) {
        case DisconnectReason::Other:
            return "The connection ended unexpectedly.";
        case DisconnectReason::PeerClosed:
            return "The recorder closed the connection.";
        case DisconnectReason::AccessDenied:
            return "The network refused access to the address.";
        case DisconnectReason::NetworkDown:
            return "The network is down.";
        case DisconnectReason::AddressNotAvailable:
            return "The address cannot be reached from this computer.";
        case DisconnectReason::HostDown:
            return "The recorder's host is down.";
        case DisconnectReason::HostUnreachable:
            return "The recorder's host is unreachable.";
        case DisconnectReason::HostNotFound:
            return "The host name could not be resolved; check the address.";
        case DisconnectReason::ConnectionReset:
            return "The recorder reset the connection.";
        case DisconnectReason::TimedOut:
            return "The recorder did not answer in time; check the address and port.";
        case DisconnectReason::ConnectionRefused:
            return "Nothing accepts connections at that address and port; check the playback port.";
        case DisconnectReason::DispatcherStopped:
            return "The connection was stopped because the program is shutting down.";
        case DisconnectReason::ClosedByClient:
            return "The connection was closed by this program.";
        case DisconnectReason::InvalidPayloadSize:
        case DisconnectReason::ProtocolError:
            return "The recorder does not speak the expected playback protocol.";
        case DisconnectReason::NoPlaybackProfile:
            return "The recorder does not offer the playback service.";
        case DisconnectReason::LoginRefused:
            return "The recorder refused the login; check the user name and password.";
        case DisconnectReason::LoginRefusedCode3:
        case DisconnectReason::LoginRefusedCode4:
        case DisconnectReason::LoginRefusedCode5:
            return "The recorder refused the login for this user (not allowed, or already logged in elsewhere).";
        case DisconnectReason::NoAliveAnswer:
            return "The recorder stopped answering.";
        case DisconnectReason::ChannelFull:
            return "The recorder (or this program) has no free connection left.";
        default:
            return "The connection failed.";
    }
}
