#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "IRecorderPacketHandler.h"
#include "RecorderSimConfig.h"
#include "base/thread/LoopingThread.h"
#include "network/socket/NonBlockingServerSocketChannel.h"

class Packet;
class RecorderConnection;

// A simulated network video recorder's playback service, for tests and demonstrations. It
// listens on a loopback address, serves any number of clients on one loop thread, and
// plays the recorder's side of the session (sync, login, alive checks) with the faults of
// its configuration. More services (playback) plug in as handler factories, each creating
// one handler per connection.
//
// start/stop and the commands (sendToAll, ...) may be called from any thread; commands are
// carried out by the loop thread within one round. Counters are readable at any time.
class RecorderSim {
public:
    using HandlerFactory = std::function<std::unique_ptr<IRecorderPacketHandler>(RecorderConnection&)>;

    explicit RecorderSim(RecorderSimConfig config);
    ~RecorderSim();
    RecorderSim(const RecorderSim&) = delete;
    RecorderSim& operator=(const RecorderSim&) = delete;

    // Adds a service for connections accepted from now on. Before start().
    void addHandlerFactory(HandlerFactory factory);

    // Binds the listener and starts the loop. Throws SocketException.
    void start();
    // Closes every connection and the listener, and joins the loop.
    void stop();

    const RecorderSimConfig& config() const { return _config; }
    std::string host() const { return _config.host; }
    // The port actually listened on (after start).
    uint16_t port() const { return _port.load(); }

    // Queues a packet of `type` with `payload` to every logged-in client.
    void sendToAll(uint16_t type, const std::vector<uint8_t>& payload);
    void sendAliveCheckToAll(bool isReply);
    void sendFinToAll(uint8_t kind, const char* text, uint16_t value);
    // Drops every connection at once, as a recorder that loses power would.
    void dropAll();

    int connectionCount() const { return _connections.load(); }
    int loginCount() const { return _logins.load(); }
    int aliveRequestsReceived() const { return _aliveRequests.load(); }
    int aliveRepliesReceived() const { return _aliveReplies.load(); }
    // Types reported by clients in unknown-type notices, in arrival order.
    std::vector<uint16_t> unknownNotices() const;
    int packetsReceived(uint16_t type) const;

    // Used by the handlers on the loop thread.
    void countLogin() { ++_logins; }
    void countAliveRequest() { ++_aliveRequests; }
    void countAliveReply() { ++_aliveReplies; }
    void countReceived(uint16_t type);
    void recordUnknownNotice(uint16_t type);

private:
    class Loop : public LoopingThread {
    public:
        explicit Loop(RecorderSim& owner) : LoopingThread("RecorderSim"), _owner(owner) {}
        void runOnce() override { _owner.runRound(); }
        void onStop() override { _owner.closeAll(); }

    private:
        RecorderSim& _owner;
    };

    void runRound();
    void acceptAll();
    void runCommands();
    void closeAll();
    void post(std::function<void()> command);

    RecorderSimConfig _config;
    std::vector<HandlerFactory> _factories;
    NonBlockingServerSocketChannel _listener;
    std::atomic<uint16_t> _port{0};
    std::vector<std::unique_ptr<RecorderConnection>> _live;  // loop thread only
    int _wake[2] = {-1, -1};
    Loop _loop;
    bool _started = false;

    mutable std::mutex _mutex;  // commands and recorded notices
    std::vector<std::function<void()>> _commands;
    std::vector<uint16_t> _unknownNotices;
    std::vector<int> _received;

    std::atomic<int> _connections{0};
    std::atomic<int> _logins{0};
    std::atomic<int> _aliveRequests{0};
    std::atomic<int> _aliveReplies{0};
};
