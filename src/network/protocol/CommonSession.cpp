#include "network/protocol/CommonSession.h"

#include "base/ByteBufferException.h"
#include "base/Clock.h"
#include "base/SendQueueOverflowException.h"
#include "base/Trace.h"
#include "network/protocol/PacketAnalyzer.h"
#include "network/protocol/SessionAliveChecker.h"
#include "network/session/DisconnectReason.h"
#include "network/session/SessionContext.h"

CommonSession::CommonSession(CommonFacade& facade, int maxPayload) : _maxPayload(maxPayload), _facade(facade) {
    SessionAliveChecker::acquire();
}

CommonSession::~CommonSession() {
    SessionAliveChecker::instance().remove(this);
    SessionAliveChecker::release();
}

void CommonSession::setContext(SessionContext* context) {
    _context.store(context);
}

void CommonSession::open(int channelIndex) {
    reset();
    _channelIndex.store(channelIndex);
    _receiveStage = StageOpened;
    onOpen();
}

void CommonSession::reset() {
    if (_channelIndex.load() == -1) {
        return;
    }
    _channelIndex.store(-1);
    {
        std::lock_guard<std::mutex> guard(_holdMutex);
        _holdAsked = false;
        _receiveHeld = false;
    }
    _receiveStage = StageIdle;
    _receivePacket.clear();
    _context.store(nullptr);
    _owner.store(nullptr);
    onReset();
}

void CommonSession::connect(const SocketAddress& address, const Login& login) {
    setState(SessionState::CONNECTING);
    _login = login;
    if (SessionContext* context = _context.load()) {
        context->connect(address);
    }
}

void CommonSession::sendPacket(Packet& packet, Priority priority) {
    SessionContext* context = _context.load();
    int bytes = packet.remaining();
    if (context == nullptr || !context->send(packet, priority)) {
        throw SendQueueOverflowException(QF_HERE, 0, "Send queue overflow.");
    }
    std::lock_guard<std::mutex> guard(_profileMutex);
    _sendRate.sample(static_cast<uint32_t>(bytes) * 8);
}

void CommonSession::close(int reason) {
    {
        std::lock_guard<Mutex> guard(_mutex);
        if (_state == SessionState::DISCONNECTED) {
            return;
        }
        _state = SessionState::DISCONNECTING;
    }
    SessionContext* context = _context.load();
    if (context == nullptr || context->isClosed()) {
        setState(SessionState::DISCONNECTED);
        return;
    }
    context->close(reason);
}

void CommonSession::holdReceiving() {
    std::lock_guard<std::mutex> guard(_holdMutex);
    _holdAsked = true;
}

bool CommonSession::enterHoldIfAsked() {
    std::lock_guard<std::mutex> guard(_holdMutex);
    if (_holdAsked) {
        _receiveHeld = true;
    }
    return _receiveHeld;
}

void CommonSession::resumeReceiving() {
    bool resume = false;
    {
        std::lock_guard<std::mutex> guard(_holdMutex);
        resume = _receiveHeld;
        _holdAsked = false;
        _receiveHeld = false;
    }
    if (resume) {
        // The recorder was silent because nothing was read: its silence counts from now.
        touchReceive();
        receiveNext();
    }
}

bool CommonSession::isReceiveHeld() const {
    std::lock_guard<std::mutex> guard(_holdMutex);
    return _receiveHeld;
}

void CommonSession::receiveNext() {
    _receiveStage = StageHeader;
    _receivePacket.prepareHeader();
    if (SessionContext* context = _context.load()) {
        context->receive(&_receivePacket);
    }
}

void CommonSession::receiveCompleted(int bytes) {
    {
        std::lock_guard<std::mutex> guard(_profileMutex);
        _receiveRate.sample(static_cast<uint32_t>(bytes) * 8);
    }
    try {
        if (_receiveStage == StageHeader) {
            handleHeader();
        } else if (_receiveStage == StagePayload) {
            handlePacket();
        }
    } catch (const ByteBufferException& e) {
        // A packet shorter than its layout: the recorder is not speaking our protocol.
        QF_TRACE("[Session] malformed packet type %d: %s\n", _receivePacket.type(), e.what());
        close(DisconnectReason::ProtocolError);
    }
}

void CommonSession::handleHeader() {
    uint32_t n = _receivePacket.payloadLength();
    if (n > static_cast<uint32_t>(_maxPayload)) {
        QF_TRACE("Invalid Payload Size: %d\n", static_cast<int>(n));
        close(DisconnectReason::InvalidPayloadSize);
        return;
    }
    if (n == 0) {
        handlePacket();
        return;
    }
    _receiveStage = StagePayload;
    _receivePacket.preparePayload();
    if (SessionContext* context = _context.load()) {
        context->receive(&_receivePacket);
    }
}

void CommonSession::handlePacket() {
    _receiveStage = StageIdle;
    touchReceive();
    if (_receivePacket.type() == PacketType::AliveCheck) {
        _receivePacket.payload();
        if (_receivePacket.remaining() == 0 || _receivePacket.getBool()) {
            _aliveCheckOutstanding.store(false);
        } else {
            sendAliveCheck(true);
        }
        receiveNext();
        return;
    }
    packetReceived(_receivePacket);
}

void CommonSession::sendAliveCheck(bool isReply) {
    PacketAnalyzer* analyzer = packetAnalyzer();
    if (analyzer == nullptr) {
        return;
    }
    // Marked before queueing: on a fast link the answer can arrive, and clear the mark,
    // before the send call even returns.
    bool wasOutstanding = _aliveCheckOutstanding.exchange(true);
    uint32_t previousSend = 0;
    {
        std::lock_guard<std::mutex> guard(_tickMutex);
        previousSend = _lastSendTick;
        _lastSendTick = Clock::current().tickCount();
    }
    try {
        std::lock_guard<std::mutex> guard(_aliveMutex);
        analyzer->buildAliveCheck(_alivePacket, isReply);
        sendPacket(_alivePacket, Priority::Urgent);
    } catch (...) {
        _aliveCheckOutstanding.store(wasOutstanding);
        std::lock_guard<std::mutex> guard(_tickMutex);
        _lastSendTick = previousSend;
        throw;
    }
}

SessionState CommonSession::state() const {
    std::lock_guard<Mutex> guard(_mutex);
    return _state;
}

void CommonSession::setState(SessionState state) {
    {
        std::lock_guard<Mutex> guard(_mutex);
        _state = state;
    }
    // The checker is told outside the state mutex: its rounds read the state while holding
    // the checker's own mutex.
    if (state == SessionState::CONNECTED) {
        watch();
    } else if (state == SessionState::DISCONNECTED) {
        SessionAliveChecker::instance().remove(this);
        std::lock_guard<std::mutex> guard(_profileMutex);
        _sendRate.reset();
        _receiveRate.reset();
    }
}

void CommonSession::watch() {
    {
        std::lock_guard<std::mutex> guard(_tickMutex);
        _lastReceiveTick = _lastSendTick = Clock::current().tickCount();
    }
    _aliveCheckOutstanding.store(false);
    {
        std::lock_guard<std::mutex> guard(_profileMutex);
        _sendRate.reset();
        _receiveRate.reset();
    }
    SessionAliveChecker::instance().add(this);
}

void CommonSession::touchReceive() {
    std::lock_guard<std::mutex> guard(_tickMutex);
    _lastReceiveTick = Clock::current().tickCount();
}

uint32_t CommonSession::lastReceiveTick() const {
    std::lock_guard<std::mutex> guard(_tickMutex);
    return _lastReceiveTick;
}

uint32_t CommonSession::lastSendTick() const {
    std::lock_guard<std::mutex> guard(_tickMutex);
    return _lastSendTick;
}

Profiler CommonSession::sendProfile() const {
    std::lock_guard<std::mutex> guard(_profileMutex);
    return _sendRate;
}

Profiler CommonSession::receiveProfile() const {
    std::lock_guard<std::mutex> guard(_profileMutex);
    return _receiveRate;
}

void CommonSession::connectFailed(int) {
    setState(SessionState::DISCONNECTED);
}

void CommonSession::connectionClosed(int) {
    setState(SessionState::DISCONNECTED);
}
