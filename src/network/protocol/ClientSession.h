#pragma once

#include <atomic>

#include "network/protocol/CommonSession.h"
#include "network/protocol/LoginResult.h"
#include "network/protocol/RemoteSystemInfo.h"

class ClientFacade;
class ClientPacketAnalyzer;

// A session that connects to a recorder and logs in: sync request, sync response (protocol
// and options checked), login request with the password digest, login response. Once logged
// in it hands every packet to its facade. Any failure on the way closes the connection
// with the reason the facade then reports: 304 protocol, 305 no playback profile, 308-311
// refused logins, 313 channels full.
//
// Every handshake step runs on the dispatcher's worker thread.
class ClientSession : public CommonSession {
public:
    // Login states.
    static constexpr int SyncSending = 0;
    static constexpr int AwaitingSyncResponse = 1;
    static constexpr int AwaitingLoginResponse = 2;
    static constexpr int LoginSending = 3;
    static constexpr int LoggedIn = 4;
    static constexpr int Failed = 5;

    explicit ClientSession(ClientFacade& facade);

    void connectCompleted() override;
    void sendCompleted() override;
    void connectFailed(int reason) override;
    void connectionClosed(int reason) override;
    void packetReceived(Packet& packet) override;
    PacketAnalyzer* packetAnalyzer() override;

    int loginState() const { return _loginState.load(); }
    const RemoteSystemInfo& systemInfo() const { return _systemInfo; }
    const LoginResult& loginResult() const { return _loginResult; }

private:
    void onSyncResponse(Packet& packet);
    void onLoginResponse(Packet& packet);
    void fail(int reason);
    ClientFacade& clientFacade();

    std::atomic<ClientPacketAnalyzer*> _analyzer{nullptr};
    std::atomic<int> _loginState{SyncSending};
    RemoteSystemInfo _systemInfo;
    LoginResult _loginResult;
};
