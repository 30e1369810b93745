#include "network/protocol/CommonFacade.h"

#include <climits>
#include <mutex>

#include "base/Exception.h"
#include "base/InvalidSessionHandleException.h"
#include "base/Trace.h"
#include "network/protocol/CommonSession.h"
#include "network/protocol/NewAliveCheckOption.h"
#include "network/protocol/PacketAnalyzer.h"
#include "network/session/SessionContext.h"

namespace {

std::mutex handleCounterMutex;
int handleCounter = 1000;

int drawHandle() {
    std::lock_guard<std::mutex> guard(handleCounterMutex);
    int handle = handleCounter;
    handleCounter = handleCounter == INT_MAX ? 1000 : handleCounter + 1;
    return handle;
}

}  // namespace

CommonFacade::CommonFacade(int sessionCount)
    : _sessionCount(sessionCount),
      _channelToHandle(static_cast<size_t>(sessionCount), -1),
      _handleToChannel(sessionCount) {
    _syncOptions.add(NewAliveCheckOption::instance());
}

CommonFacade::~CommonFacade() = default;

void CommonFacade::sendCompleted(int) {}

int CommonFacade::mapNewHandle(int slot) {
    int handle = drawHandle();
    while (_handleToChannel.find(handle) != -1) {
        handle = drawHandle();
    }
    _handleToChannel.insert(handle, slot);
    _channelToHandle[static_cast<size_t>(slot)] = handle;
    return handle;
}

void CommonFacade::unmap(int handle, int slot) {
    if (handle != -1) {
        _handleToChannel.remove(handle);
    }
    if (slot >= 0 && slot < _sessionCount) {
        _channelToHandle[static_cast<size_t>(slot)] = -1;
    }
}

CommonSession* CommonFacade::findSession(int handle) {
    int slot = _handleToChannel.find(handle);
    return slot == -1 ? nullptr : sessionAt(slot);
}

int CommonFacade::handleOf(const CommonSession& session) {
    std::lock_guard<Mutex> guard(_mutex);
    int slot = session.channelIndex();
    return slot >= 0 && slot < _sessionCount ? _channelToHandle[static_cast<size_t>(slot)] : -1;
}

void CommonFacade::sendPacket(int handle, Packet& packet, Priority priority) {
    std::lock_guard<Mutex> guard(_mutex);
    CommonSession* session = findSession(handle);
    if (session == nullptr) {
        throw InvalidSessionHandleException(QF_HERE, 0, "Invalid session handle.");
    }
    session->sendPacket(packet, priority);
}

CommonSession& CommonFacade::sessionByHandle(int handle) {
    std::lock_guard<Mutex> guard(_mutex);
    CommonSession* session = findSession(handle);
    if (session == nullptr) {
        throw InvalidSessionHandleException(QF_HERE, 0, "Invalid session handle.");
    }
    return *session;
}

PacketAnalyzer* CommonFacade::analyzerOf(int handle) {
    return sessionByHandle(handle).packetAnalyzer();
}

void CommonFacade::sendBuilt(int handle) {
    sendPacket(handle, _buildPacket, Priority::Normal);
}

void CommonFacade::close(int handle) {
    close(handle, 0);
}

void CommonFacade::close(int handle, int reason) {
    // Held throughout, so the session cannot be freed and given to another connection
    // between the look-up and the close.
    std::lock_guard<Mutex> guard(_mutex);
    if (CommonSession* session = findSession(handle)) {
        session->close(reason);
    }
}

void CommonFacade::holdReceiving(int handle) {
    std::lock_guard<Mutex> guard(_mutex);
    if (CommonSession* session = findSession(handle)) {
        session->holdReceiving();
    }
}

void CommonFacade::resumeReceiving(int handle) {
    // Held throughout, like close(): the session resumes reading only while it still
    // serves this handle.
    std::lock_guard<Mutex> guard(_mutex);
    if (CommonSession* session = findSession(handle)) {
        session->resumeReceiving();
    }
}

bool CommonFacade::hasRoom(int handle, int bytes) {
    std::lock_guard<Mutex> guard(_mutex);
    CommonSession* session = findSession(handle);
    SessionContext* context = session != nullptr ? session->context() : nullptr;
    return context != nullptr && context->hasRoom(bytes);
}

int CommonFacade::freeSpace(int handle) {
    std::lock_guard<Mutex> guard(_mutex);
    CommonSession* session = findSession(handle);
    SessionContext* context = session != nullptr ? session->context() : nullptr;
    return context != nullptr ? context->freeSpace() : 0;
}

int CommonFacade::queuedPackets(int handle) {
    std::lock_guard<Mutex> guard(_mutex);
    CommonSession* session = findSession(handle);
    SessionContext* context = session != nullptr ? session->context() : nullptr;
    return context != nullptr ? context->queuedPackets() : 0;
}

SocketAddress CommonFacade::localAddress(int handle) {
    std::lock_guard<Mutex> guard(_mutex);
    CommonSession* session = findSession(handle);
    SessionContext* context = session != nullptr ? session->context() : nullptr;
    return context != nullptr ? context->localAddress() : SocketAddress();
}

SocketAddress CommonFacade::remoteAddress(int handle) {
    std::lock_guard<Mutex> guard(_mutex);
    CommonSession* session = findSession(handle);
    SessionContext* context = session != nullptr ? session->context() : nullptr;
    return context != nullptr ? context->remoteAddress() : SocketAddress();
}

std::optional<Login> CommonFacade::login(int handle) {
    std::lock_guard<Mutex> guard(_mutex);
    CommonSession* session = findSession(handle);
    if (session == nullptr || session->isFree()) {
        return std::nullopt;
    }
    return session->login();
}

void* CommonFacade::owner(int handle) {
    std::lock_guard<Mutex> guard(_mutex);
    CommonSession* session = findSession(handle);
    return session != nullptr ? session->owner() : nullptr;
}

void CommonFacade::setOwner(int handle, void* owner) {
    std::lock_guard<Mutex> guard(_mutex);
    if (CommonSession* session = findSession(handle)) {
        session->setOwner(owner);
    }
}

bool CommonFacade::dispatch(CommonSession& session, Packet& packet) {
    int handle = handleOf(session);
    PacketAnalyzer* analyzer = session.packetAnalyzer();
    return analyzer != nullptr && analyzer->dispatch(handle, packet, *this);
}

void CommonFacade::unknownPacket(int handle, Packet& packet) {
    uint16_t type = packet.type();
    QF_TRACE("handle[%d] receive Unknown Packet Type: %d\n", handle, type);
    if (handle == -1) {
        return;
    }
    try {
        PacketAnalyzer* analyzer = analyzerOf(handle);
        if (analyzer == nullptr) {
            return;
        }
        std::lock_guard<Mutex> guard(_buildMutex);
        analyzer->buildUnknownTypeNotice(_buildPacket, type);
        sendBuilt(handle);
    } catch (const Exception& e) {
        // The notice is a courtesy; a full queue or a handle closing meanwhile loses nothing.
        QF_TRACE("handle[%d] unknown-type notice not sent: %s\n", handle, messageOf(e));
    }
}

void CommonFacade::sessionClosed(CommonSession& session, int reason) {
    int slot = session.channelIndex();
    int handle = -1;
    {
        std::lock_guard<Mutex> guard(_mutex);
        if (slot >= 0 && slot < _sessionCount) {
            handle = _channelToHandle[static_cast<size_t>(slot)];
        }
    }
    disconnected(handle, reason, session.owner());
    std::lock_guard<Mutex> guard(_mutex);
    unmap(handle, slot);
    QF_TRACE("CommonFacade::session Disconnected... handle %d -> channel %d   channel %d -> handle %d", handle, slot,
             slot, -1);
    session.reset();
}
