#pragma once

#include <optional>
#include <vector>

#include "base/Exception.h"
#include "base/thread/Mutex.h"
#include "network/protocol/Login.h"
#include "network/protocol/Packet.h"
#include "network/protocol/SessionHandleTable.h"
#include "network/protocol/SyncOptionList.h"
#include "network/session/Priority.h"
#include "network/socket/SocketAddress.h"

class CommonSession;
class Dispatcher;
class IProfileList;
class PacketAnalyzer;

// What the rest of the system talks to: a fixed pool of sessions addressed by integer
// handles. A handle is issued by connect and stays valid until the facade reports the
// session disconnected; afterwards every call on it raises InvalidSessionHandleException
// (queries answer 0 instead). Handles come from a process-wide counter that starts at 1000
// and skips values still in use.
//
// Thread use: senders and queries from any thread; session events arrive on the
// dispatcher's worker. The facade mutex guards the handle tables and every send; the build
// mutex guards the shared build packet and is always taken first. disconnected() is called
// without either held, so it may call back into the facade.
class CommonFacade {
public:
    explicit CommonFacade(int sessionCount);
    virtual ~CommonFacade();
    CommonFacade(const CommonFacade&) = delete;
    CommonFacade& operator=(const CommonFacade&) = delete;

    virtual CommonSession* sessionAt(int slot) = 0;
    // The connection of `handle` ended or could not be made; `reason` says why.
    virtual void disconnected(int handle, int reason, void* owner) = 0;
    // A packet of a type nobody handles: answered with a type-9 notice.
    virtual void unknownPacket(int handle, Packet& packet);
    virtual void sendCompleted(int handle);
    // Whether the services a recorder offers are enough for this facade.
    virtual bool acceptsProfiles(const IProfileList& profiles) = 0;
    // The options every sync request carries.
    virtual const SyncOptionList& syncOptions() const { return _syncOptions; }
    // Called by a session whose connection failed or ended: reports it and frees the slot.
    virtual void sessionClosed(CommonSession& session, int reason);

    // Queues `packet` on the handle's connection. Throws InvalidSessionHandleException or
    // SendQueueOverflowException.
    void sendPacket(int handle, Packet& packet, Priority priority);
    CommonSession& sessionByHandle(int handle);
    // Asks the connection to close (reason 0, or `reason`); the handle stays valid until
    // disconnected(). Unknown handles are ignored.
    void close(int handle);
    void close(int handle, int reason);
    // Stops reading from the handle's connection once the packet being handled now has
    // been handled, until resumeReceiving(): for a consumer that cannot take more yet.
    // Unknown handles are ignored.
    void holdReceiving(int handle);
    void resumeReceiving(int handle);

    bool hasRoom(int handle, int bytes);
    int freeSpace(int handle);
    int queuedPackets(int handle);
    SocketAddress localAddress(int handle);
    SocketAddress remoteAddress(int handle);
    std::optional<Login> login(int handle);
    void* owner(int handle);
    void setOwner(int handle, void* owner);

    // Routes a packet received by a logged-in session to its analyzer. True when handled.
    bool dispatch(CommonSession& session, Packet& packet);
    // The handle of a session, -1 when it has none.
    int handleOf(const CommonSession& session);
    int sessionCount() const { return _sessionCount; }

    // Builds a request in the shared build packet with `build(analyzer, packet)` and sends it
    // at Normal priority. A builder that returns false raises "Unsupported packet type.".
    template <typename Build>
    void sendRequest(int handle, Build build);

protected:
    // Under the facade mutex: a fresh handle mapped to `slot`.
    int mapNewHandle(int slot);
    void unmap(int handle, int slot);
    // Under the facade mutex: the session of `handle`, or null.
    CommonSession* findSession(int handle);
    PacketAnalyzer* analyzerOf(int handle);
    void sendBuilt(int handle);

    const int _sessionCount;
    Dispatcher* _dispatcher = nullptr;
    Mutex _mutex;
    std::vector<int> _channelToHandle;
    SessionHandleTable _handleToChannel;
    Mutex _buildMutex;
    Packet _buildPacket;
    SyncOptionList _syncOptions;
};

template <typename Build>
void CommonFacade::sendRequest(int handle, Build build) {
    PacketAnalyzer* analyzer = analyzerOf(handle);
    std::lock_guard<Mutex> guard(_buildMutex);
    if (analyzer == nullptr || !build(*analyzer, _buildPacket)) {
        throw Exception("Exception", QF_HERE, 0, "Unsupported packet type.");
    }
    sendBuilt(handle);
}
