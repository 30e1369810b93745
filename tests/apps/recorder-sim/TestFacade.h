#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "RecorderSim.h"
#include "network/protocol/ClientFacade.h"
#include "network/protocol/FinOption.h"
#include "network/protocol/IProfileList.h"
#include "network/protocol/LoginResult.h"
#include "network/protocol/ProductInfo.h"
#include "network/protocol/RemoteSystemInfo.h"

// A client facade that records what it is told, for tests. Every wait is bounded
// generously and returns false instead of hanging when the event never comes.
class TestFacade : public ClientFacade {
public:
    explicit TestFacade(int sessions = 4) : ClientFacade(sessions, "Test Dispatcher") { start(); }
    ~TestFacade() override { stop(); }

    void connected(int, void*) override {}
    void loginSucceeded(int handle, const LoginResult&) override {
        note([&] { loggedIn.insert(handle); });
        if (onLoggedIn) {
            onLoggedIn(handle);
        }
    }
    void loginFailed(int handle, const LoginResult& result) override {
        note([&] { loginCodes[handle] = result.code; });
    }
    void finReceived(int handle, const FinOption& fin) override {
        note([&] { fins[handle] = std::string(fin.text()); });
    }
    void systemInfoReceived(int, const RemoteSystemInfo& info) override {
        note([&] { videoInputs = info.VideoInNum; });
    }
    void productInfoReceived(int, const ProductInfo& info) override {
        note([&] { modelCode = info.modelCode(); });
    }
    void disconnected(int handle, int reason, void*) override {
        note([&] {
            ++disconnects[handle];
            reasons[handle] = reason;
        });
    }
    bool acceptsProfiles(const IProfileList& profiles) override {
        return profiles.contains(IProfileList::PlaybackProfile);
    }

    // Connects to `sim` as user/password; the new handle.
    int connectTo(const RecorderSim& sim, const std::string& user, const std::string& password) {
        return connect(SiteAddress{sim.host(), sim.port(), user, password}, nullptr);
    }

    // Conditions may also depend on the simulator, which notifies nobody: look again every
    // few milliseconds as well as on every notification. The bound allows for a hundred
    // handshakes under ThreadSanitizer on a loaded two-core machine.
    bool waitUntil(const std::function<bool()>& condition, int seconds = 20) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        std::unique_lock<std::mutex> lock(_mutex);
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            _changed.wait_for(lock, std::chrono::milliseconds(2));
        }
        return true;
    }
    bool waitLoggedIn(int handle) {
        return waitUntil([&] { return loggedIn.count(handle) != 0 || reasons.count(handle) != 0; }) &&
               isLoggedIn(handle);
    }
    // The reason the handle was disconnected with, or -1 after the bound.
    int waitDisconnected(int handle) {
        waitUntil([&] { return reasons.count(handle) != 0; });
        std::lock_guard<std::mutex> guard(_mutex);
        auto found = reasons.find(handle);
        return found == reasons.end() ? -1 : found->second;
    }
    bool isLoggedIn(int handle) {
        std::lock_guard<std::mutex> guard(_mutex);
        return loggedIn.count(handle) != 0;
    }
    template <typename T>
    T read(const T& field) {
        std::lock_guard<std::mutex> guard(_mutex);
        return field;
    }

    std::function<void(int)> onLoggedIn;
    std::set<int> loggedIn;
    std::map<int, int> loginCodes;
    std::map<int, int> reasons;
    std::map<int, int> disconnects;
    std::map<int, std::string> fins;
    uint32_t modelCode = 0;
    int videoInputs = 0;

private:
    void note(const std::function<void()>& change) {
        std::lock_guard<std::mutex> guard(_mutex);
        change();
        _changed.notify_all();
    }

    std::mutex _mutex;
    std::condition_variable _changed;
};

// A started simulator with the given configuration changes, listening on a free port.
inline std::unique_ptr<RecorderSim> startSim(const std::function<void(RecorderSimConfig&)>& configure = {}) {
    RecorderSimConfig config;
    config.user = "admin";
    config.password = "secret";
    if (configure) {
        configure(config);
    }
    auto sim = std::make_unique<RecorderSim>(config);
    sim->start();
    return sim;
}
