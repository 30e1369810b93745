#pragma once

#include <atomic>
#include <mutex>

#include "base/thread/Mutex.h"
#include "network/session/SendQueue.h"
#include "network/session/SessionContext.h"
#include "network/session/SessionState.h"
#include "network/socket/SocketAddress.h"

class ByteBuffer;
class NonBlockingServerSocketChannel;
class NonBlockingSocketChannel;
class SelectDispatcher;

// One connection slot of a dispatcher: what the session asked for (the interest word),
// the two send queues and the receive in progress. Sessions call the SessionContext
// operations from any thread; the dispatcher's worker reads the interest word each round
// and does the socket work. The interest word, close reason and receive state are guarded
// by one mutex; the queues and the record being written by the context lock.
class SessionContextImpl : public SessionContext {
public:
    // Interest bits.
    static constexpr int AcceptWanted = 0x01;
    static constexpr int ConnectWanted = 0x02;
    static constexpr int ReadWanted = 0x04;
    static constexpr int WriteWanted = 0x08;
    static constexpr int CloseWanted = 0x10;
    static constexpr int ConnectInProgress = 0x20;

    static constexpr int UrgentQueueBytes = 5120;
    static constexpr int NormalQueueBytes = 1048576;

    explicit SessionContextImpl(SelectDispatcher* dispatcher);
    ~SessionContextImpl() override;

    Session* session() const override { return _session; }
    bool isClosed() const override { return _closed.load(std::memory_order_acquire); }
    void listen() override;
    void connect(const SocketAddress& address) override;
    bool close(int reason) override;
    bool send(ByteBuffer& packet, Priority priority) override;
    void receive(ByteBuffer* buffer) override;
    bool hasRoom(int bytes) const override;
    int freeSpace() const override;
    int queuedPackets() const override;
    SocketAddress localAddress() const override;
    SocketAddress remoteAddress() const override;
    void lock() override { _lock.lock(); }
    void unlock() override { _lock.unlock(); }

    SessionState state() const;

private:
    friend class SelectDispatcher;

    // Called by the dispatcher with its pool mutex held: takes the slot into use.
    void bind(NonBlockingSocketChannel* channel, NonBlockingServerSocketChannel* serverChannel,
              Session* session);
    // Back to free: queues emptied, interest cleared, closed. Worker thread only; the
    // channel must have been detached already.
    void reset();

    int interest() const;
    int closeReason() const;
    void setState(SessionState state);
    void changeInterest(int set, int clear);
    SocketAddress connectAddress() const;
    void setAddresses(const SocketAddress& local, const SocketAddress& remote);

    // Under the context lock: makes the next record current (Urgent first). False when
    // both queues are empty.
    bool pickNextRecord();
    SendQueue& queueOf(int priority) { return priority == 0 ? _urgentQueue : _normalQueue; }

    std::atomic<bool> _closed{true};
    mutable std::mutex _mutex;  // interest, close reason, state, receive state, address
    int _interest = 0;
    int _closeReason = 0;
    SessionState _state = SessionState::DISCONNECTED;
    SocketAddress _connectAddress;
    SocketAddress _localAddress;
    SocketAddress _remoteAddress;
    ByteBuffer* _receiveBuffer = nullptr;
    int _receiveStart = 0;
    bool _receiveComplete = false;
    int _receiveCount = 0;

    mutable Mutex _lock;  // the queues and the record being written
    SendQueue _urgentQueue{UrgentQueueBytes};
    SendQueue _normalQueue{NormalQueueBytes};
    int _writingPriority = -1;  // queue of the record being written, -1 when none
    int _writeOffset = 0;

    NonBlockingSocketChannel* _channel = nullptr;
    NonBlockingServerSocketChannel* _serverChannel = nullptr;
    SelectDispatcher* const _dispatcher;
    Session* _session = nullptr;
};
