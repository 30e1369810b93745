#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "network/protocol/ClientPacketAnalyzer.h"
#include "network/protocol/CommonFacade.h"
#include "network/protocol/SiteAddress.h"

class ClientSession;
class FinOption;
class LoginResult;
class ProductInfo;
class RemoteSystemInfo;
class SelectDispatcher;

// A facade whose sessions connect out to recorders and log in. It owns the session pool
// and the dispatcher all of them run on; a service facade implements the notifications.
// The notifications arrive on the dispatcher's worker thread.
class ClientFacade : public CommonFacade {
public:
    ClientFacade(int sessionCount, const char* dispatcherName);
    ~ClientFacade() override;

    CommonSession* sessionAt(int slot) override;
    virtual std::unique_ptr<ClientSession> createSession();

    virtual void connected(int handle, void* owner) = 0;
    virtual void loginSucceeded(int handle, const LoginResult& result) = 0;
    virtual void loginFailed(int handle, const LoginResult& result) = 0;
    virtual void finReceived(int handle, const FinOption& fin) = 0;
    virtual void systemInfoReceived(int handle, const RemoteSystemInfo& info) = 0;
    virtual void productInfoReceived(int handle, const ProductInfo& info) = 0;

    // Creates the sessions and starts the dispatcher.
    virtual void start();
    // Stops the dispatcher (every live session is reported disconnected with 201), then
    // destroys the sessions.
    virtual void stop();
    virtual ClientPacketAnalyzer& packetAnalyzer() { return _analyzer; }

    // Starts connecting to `site` and returns the new handle, or -1 when every session is in
    // use (or the dispatcher has no free connection). Throws SocketAddressInfoException
    // (error code 108) when the host name does not resolve.
    int connect(const SiteAddress& site, void* owner);
    // The same with the address already resolved: takes no time, so it may be called with
    // locks held that other connections need.
    int connect(const SocketAddress& address, const Login& login, void* owner);

    // Forwarders from the sessions to the notifications above, with the session's handle.
    void onConnected(ClientSession& session);
    void onLoginSucceeded(ClientSession& session);
    void onLoginFailed(ClientSession& session);
    void onSystemInfo(ClientSession& session);
    void onProductInfo(ClientSession& session);

    SelectDispatcher& dispatcher() { return *_selectDispatcher; }
    // Whether the calling thread is the one every session callback runs on.
    bool isDispatcherThread() const;
    bool isStarted() const { return _started.load(); }

private:
    std::unique_ptr<SelectDispatcher> _selectDispatcher;
    std::vector<std::unique_ptr<ClientSession>> _sessions;
    ClientPacketAnalyzer _analyzer;
    std::atomic<bool> _started{false};
};
