#include "network/protocol/ClientFacade.h"

#include "base/Trace.h"
#include "network/protocol/ClientSession.h"
#include "network/session/SelectDispatcher.h"

ClientFacade::ClientFacade(int sessionCount, const char* dispatcherName)
    : CommonFacade(sessionCount),
      _selectDispatcher(std::make_unique<SelectDispatcher>(sessionCount, 0, dispatcherName)) {
    _dispatcher = _selectDispatcher.get();
}

ClientFacade::~ClientFacade() {
    // A subclass has already been destroyed here, so its notifications are gone: stopping
    // must happen in the subclass's destructor (or by calling stop()) to reach them.
    if (_started) {
        _selectDispatcher->stop();
        _sessions.clear();
    }
}

CommonSession* ClientFacade::sessionAt(int slot) {
    return slot >= 0 && slot < static_cast<int>(_sessions.size()) ? _sessions[static_cast<size_t>(slot)].get()
                                                                   : nullptr;
}

std::unique_ptr<ClientSession> ClientFacade::createSession() {
    return std::make_unique<ClientSession>(*this);
}

void ClientFacade::start() {
    if (_started) {
        return;
    }
    for (int i = 0; i < _sessionCount; ++i) {
        _sessions.push_back(createSession());
    }
    _selectDispatcher->start();
    _started = true;
}

void ClientFacade::stop() {
    if (!_started) {
        return;
    }
    _selectDispatcher->stop();
    _sessions.clear();
    _started = false;
}

int ClientFacade::connect(const SiteAddress& site, void* owner) {
    SocketAddress address(site.host.c_str(), site.port);
    return connect(address, Login(site.user.c_str(), site.password.c_str()), owner);
}

int ClientFacade::connect(const SocketAddress& address, const Login& login, void* owner) {
    std::lock_guard<Mutex> guard(_mutex);
    if (!_started) {
        return -1;
    }
    for (int slot = 0; slot < _sessionCount; ++slot) {
        ClientSession& session = *_sessions[static_cast<size_t>(slot)];
        if (!session.isFree()) {
            continue;
        }
        if (!_selectDispatcher->attach(session)) {
            return -1;
        }
        int handle = mapNewHandle(slot);
        session.open(slot);
        session.setOwner(owner);
        session.connect(address, login);
        return handle;
    }
    return -1;
}

bool ClientFacade::isDispatcherThread() const {
    return _selectDispatcher->isWorkerThread();
}

void ClientFacade::onConnected(ClientSession& session) {
    connected(handleOf(session), session.owner());
}

void ClientFacade::onLoginSucceeded(ClientSession& session) {
    loginSucceeded(handleOf(session), session.loginResult());
}

void ClientFacade::onLoginFailed(ClientSession& session) {
    loginFailed(handleOf(session), session.loginResult());
}

void ClientFacade::onSystemInfo(ClientSession& session) {
    systemInfoReceived(handleOf(session), session.systemInfo());
}

void ClientFacade::onProductInfo(ClientSession& session) {
    productInfoReceived(handleOf(session), session.productInfo());
}
