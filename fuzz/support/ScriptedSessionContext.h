#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "network/session/SessionContext.h"

// The connection of one session as a fuzz target plays it, in place of the dispatcher and
// a socket. Whatever the session asks to receive is filled from a script: the bytes the
// recorder sends. Every packet the session queues is checked for sound framing (magic,
// payload length matching the bytes, payload padded to 4), shown to an observer and
// completed, urgent ones first. A close the session asks for is reported back with its
// reason. When the script runs out while the session waits for bytes, the recorder is
// taken to have closed the connection (reason 102).
//
// As on the dispatcher's worker, callbacks are delivered one at a time from run(), and an
// Exception escaping one closes the connection with reason 0; any other exception is
// left to escape, since no code under test should raise one. Single-threaded.
class ScriptedSessionContext : public SessionContext {
public:
    // Sees every packet the session queued: type, payload and its length.
    using SendObserver = std::function<void(uint16_t type, const uint8_t* payload, int length)>;

    explicit ScriptedSessionContext(Session& session, SendObserver observer);

    // Plays the connection from connect completion until the session is told it closed.
    void run(const uint8_t* script, size_t length);
    // The reason the session was given when the connection ended.
    int closedReason() const { return _closedReason; }

    Session* session() const override { return &_session; }
    bool isClosed() const override { return _closed; }
    void listen() override {}
    void connect(const SocketAddress&) override {}
    bool close(int reason) override;
    bool send(ByteBuffer& packet, Priority priority) override;
    void receive(ByteBuffer* buffer) override { _receiveBuffer = buffer; }
    bool hasRoom(int) const override { return true; }
    int freeSpace() const override { return 1 << 20; }
    int queuedPackets() const override { return static_cast<int>(_urgentSends + _normalSends); }
    SocketAddress localAddress() const override { return SocketAddress(); }
    SocketAddress remoteAddress() const override { return SocketAddress(); }
    void lock() override { _lock.lock(); }
    void unlock() override { _lock.unlock(); }

private:
    template <typename Callback>
    void report(Callback callback);
    // Fills the requested buffer; false when the script ran out first.
    bool deliver(const uint8_t*& script, size_t& left);
    void end(int reason);

    Session& _session;
    SendObserver _observer;
    bool _closed = false;
    bool _closeRequested = false;
    int _requestedReason = 0;
    int _closedReason = -1;
    ByteBuffer* _receiveBuffer = nullptr;
    size_t _urgentSends = 0;
    size_t _normalSends = 0;
    std::recursive_mutex _lock;
};
