#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "base/thread/Mutex.h"
#include "base/thread/Profiler.h"
#include "network/protocol/Login.h"
#include "network/protocol/Packet.h"
#include "network/protocol/ProductInfo.h"
#include "network/protocol/RemoteOemInfo.h"
#include "network/protocol/EncryptionKey.h"
#include "network/session/Priority.h"
#include "network/session/Session.h"
#include "network/session/SessionState.h"
#include "network/socket/SocketAddress.h"

class CommonFacade;
class PacketAnalyzer;
class SessionContext;

// One logical connection to one recorder, in one slot of its facade's session pool. It
// owns the packet being received and cuts the stream into packets (header, then payload,
// checked against the largest payload it accepts), answers and tracks alive checks, and
// hands every other packet to packetReceived(). A packet whose parser throws closes the
// connection with reason 304; it never reaches the dispatcher's worker.
//
// Dispatcher callbacks arrive on the worker thread. sendPacket, close and the alive-check
// bookkeeping may be used from any thread: the state and the two ticks have their own
// mutexes, and alive checks are built in a packet of their own.
class CommonSession : public Session {
public:
    // Bits per second of one direction; samples are taken in bits.
    class BpsProfiler : public Profiler {
    public:
        using Profiler::Profiler;
    };

    static constexpr int ClientMaxPayload = 1048576;

    // Receive stages.
    static constexpr int StageOpened = 0;
    static constexpr int StageIdle = 1;
    static constexpr int StageHeader = 2;
    static constexpr int StagePayload = 4;

    CommonSession(CommonFacade& facade, int maxPayload);
    ~CommonSession() override;
    CommonSession(const CommonSession&) = delete;
    CommonSession& operator=(const CommonSession&) = delete;

    void setContext(SessionContext* context) override;
    void connectCompleted() override {}
    void connectFailed(int reason) override;
    void connectionClosed(int reason) override;
    void sendCompleted() override {}
    void receiveCompleted(int bytes) override;

    virtual void packetReceived(Packet& packet) = 0;
    virtual void onOpen() {}
    virtual void onReset() {}
    virtual void receiveNext();
    virtual PacketAnalyzer* packetAnalyzer() = 0;

    // Takes the slot: resets, then stores the index.
    void open(int channelIndex);
    // Frees the slot (nothing when already free).
    void reset();
    bool isFree() const { return _channelIndex.load() == -1; }
    int channelIndex() const { return _channelIndex.load(); }

    // Reading on hold: while whoever takes this connection's packets cannot take more,
    // nothing more is read (the recorder is held back by the connection itself) and the
    // silence that follows does not count against the recorder. holdReceiving() is asked
    // while a packet is being handled and takes effect when it has been; resumeReceiving()
    // may come from any thread, also before that.
    void holdReceiving();
    void resumeReceiving();
    bool isReceiveHeld() const;

    void connect(const SocketAddress& address, const Login& login);
    // Queues the packet (position to limit). Throws SendQueueOverflowException when the
    // queue of that priority has no room for it, or the connection is already gone.
    void sendPacket(Packet& packet, Priority priority);
    void close(int reason);
    void sendAliveCheck(bool isReply);

    SessionState state() const;
    void setState(SessionState state);

    uint32_t lastReceiveTick() const;
    uint32_t lastSendTick() const;
    bool aliveCheckOutstanding() const { return _aliveCheckOutstanding.load(); }
    bool newAliveCheck() const { return _newAliveCheck.load(); }
    int receiveStage() const { return _receiveStage; }
    const Login& login() const { return _login; }
    const ProductInfo& productInfo() const { return _productInfo; }
    const RemoteOemInfo& oemInfo() const { return _oemInfo; }
    const EncryptionKey::Bytes& encryptionKey() const { return _encryptionKey; }
    SessionContext* context() const { return _context.load(); }
    CommonFacade& facade() const { return _facade; }
    void* owner() const { return _owner.load(); }
    void setOwner(void* owner) { _owner.store(owner); }

    // Copies of the rate profilers (bits sent / received since the login).
    Profiler sendProfile() const;
    Profiler receiveProfile() const;

protected:
    // Starts watching this connection for silence (from connect completion on).
    void watch();
    void touchReceive();
    void handleHeader();
    void handlePacket();
    // After a packet was handled: true when reading is now on hold (no receiveNext).
    bool enterHoldIfAsked();

    const int _maxPayload;
    std::atomic<int> _channelIndex{-1};
    mutable Mutex _mutex;  // the state
    SessionState _state = SessionState::DISCONNECTED;
    std::atomic<bool> _aliveCheckOutstanding{false};
    int _receiveStage = StageIdle;
    std::atomic<SessionContext*> _context{nullptr};
    CommonFacade& _facade;
    Packet _sendPacket;
    Packet _receivePacket;
    Login _login;
    ProductInfo _productInfo;
    RemoteOemInfo _oemInfo;
    EncryptionKey::Bytes _encryptionKey{};
    std::atomic<bool> _newAliveCheck{false};
    std::atomic<void*> _owner{nullptr};

private:
    mutable std::mutex _tickMutex;
    uint32_t _lastReceiveTick = 0;
    uint32_t _lastSendTick = 0;
    mutable std::mutex _profileMutex;
    BpsProfiler _sendRate{"send"};
    BpsProfiler _receiveRate{"receive"};
    std::mutex _aliveMutex;  // the alive-check packet
    Packet _alivePacket;
    mutable std::mutex _holdMutex;
    bool _holdAsked = false;
    bool _receiveHeld = false;
};
