#include "network/protocol/ClientSession.h"

#include "base/Exception.h"
#include "base/Trace.h"
#include "network/protocol/ClientFacade.h"
#include "network/protocol/ClientPacketAnalyzer.h"
#include "network/protocol/ProfileList.h"
#include "network/session/DisconnectReason.h"

ClientSession::ClientSession(ClientFacade& facade) : CommonSession(facade, ClientMaxPayload) {}

ClientFacade& ClientSession::clientFacade() {
    return static_cast<ClientFacade&>(facade());
}

PacketAnalyzer* ClientSession::packetAnalyzer() {
    ClientPacketAnalyzer* analyzer = _analyzer.load();
    if (analyzer == nullptr) {
        Exception error("Exception", QF_HERE, 0, "Null packet analyzer.");
        QF_TRACE("%s\n", error.describe().c_str());
    }
    return analyzer;
}

void ClientSession::connectCompleted() {
    QF_TRACE("ClientSession::connectCompleted...\n");
    // Silence is watched from here on, so that a recorder that stalls mid-handshake does not
    // hold the connection forever.
    watch();
    clientFacade().onConnected(*this);
    ClientPacketAnalyzer& analyzer = clientFacade().packetAnalyzer();
    _analyzer.store(&analyzer);
    analyzer.buildSyncRequest(_sendPacket, facade().syncOptions());
    _loginState.store(SyncSending);
    sendPacket(_sendPacket, Priority::Normal);
}

void ClientSession::sendCompleted() {
    switch (_loginState.load()) {
        case SyncSending:
            _loginState.store(AwaitingSyncResponse);
            receiveNext();
            break;
        case LoginSending:
            _loginState.store(AwaitingLoginResponse);
            receiveNext();
            break;
        case LoggedIn:
            facade().sendCompleted(clientFacade().handleOf(*this));
            break;
        default:
            // An alive-check answer sent while the handshake waits for the recorder.
            QF_TRACE("ClientSession::sendCompleted(const SessionEvent* evt) assertion error");
            break;
    }
}

void ClientSession::connectFailed(int reason) {
    setState(SessionState::DISCONNECTED);
    facade().sessionClosed(*this, reason);
}

void ClientSession::connectionClosed(int reason) {
    setState(SessionState::DISCONNECTED);
    QF_TRACE("[ClientSession] connectionClosed()\n");
    facade().sessionClosed(*this, reason);
}

void ClientSession::packetReceived(Packet& packet) {
    switch (_loginState.load()) {
        case AwaitingSyncResponse:
            if (packet.type() == PacketType::SyncResponse) {
                onSyncResponse(packet);
            } else if (packet.type() == PacketType::ChannelFull) {
                QF_TRACE("[LOGIN_FAILED] CHANNEL FULL\n");
                fail(DisconnectReason::ChannelFull);
            } else {
                QF_TRACE("[LOGIN_FAILED] ABNORMAL PROTOCOL\n");
                fail(DisconnectReason::ProtocolError);
            }
            break;
        case AwaitingLoginResponse:
            if (packet.type() == PacketType::LoginResponse) {
                onLoginResponse(packet);
            } else {
                QF_TRACE("[LOGIN_FAILED] not COMMON_MESSAGE_RESPONSE_LOGIN\n");
                fail(DisconnectReason::ProtocolError);
            }
            break;
        case LoggedIn:
            if (facade().dispatch(*this, packet) && !enterHoldIfAsked()) {
                receiveNext();
            }
            break;
        default:
            QF_TRACE("[ClientSession] Invalid State Error, current state is %d\n", _loginState.load());
            close(DisconnectReason::Other);
            break;
    }
}

void ClientSession::onSyncResponse(Packet& packet) {
    _systemInfo.clear();
    ProfileList profiles;
    bool newAliveCheck = false;
    _encryptionKey = EncryptionKey::Bytes{};
    ClientPacketAnalyzer::SyncResponse into{&profiles, &_productInfo, &_oemInfo, &_systemInfo, &_encryptionKey,
                                            &newAliveCheck};
    if (!static_cast<ClientPacketAnalyzer*>(packetAnalyzer())->parseSyncResponse(packet, into)) {
        QF_TRACE("[LOGIN_FAILED] invalid protocol\n");
        fail(DisconnectReason::ProtocolError);
        return;
    }
    _newAliveCheck.store(newAliveCheck);
    if (!facade().acceptsProfiles(profiles)) {
        QF_TRACE("REMOTE: LOGIN FAILED, INVALID PROFILE");
        fail(DisconnectReason::NoPlaybackProfile);
        return;
    }
    if (_systemInfo.systemKind == 0) {
        _systemInfo.fillDefaults(_productInfo.modelCode());
    }
    clientFacade().onSystemInfo(*this);
    clientFacade().onProductInfo(*this);
    static_cast<ClientPacketAnalyzer*>(packetAnalyzer())->buildLoginRequest(_sendPacket, _login, _encryptionKey);
    _loginState.store(LoginSending);
    sendPacket(_sendPacket, Priority::Normal);
}

void ClientSession::onLoginResponse(Packet& packet) {
    _loginResult.clear();
    static_cast<ClientPacketAnalyzer*>(packetAnalyzer())->parseLoginResponse(packet, _loginResult);
    if (_loginResult.succeeded()) {
        _loginState.store(LoggedIn);
        setState(SessionState::CONNECTED);
        clientFacade().onLoginSucceeded(*this);
        receiveNext();
        return;
    }
    QF_TRACE("[LOGIN_FAILED] login fail\n");
    _loginState.store(Failed);
    clientFacade().onLoginFailed(*this);
    switch (_loginResult.code) {
        case 3:
            close(DisconnectReason::LoginRefusedCode3);
            break;
        case 4:
            close(DisconnectReason::LoginRefusedCode4);
            break;
        case 5:
            close(DisconnectReason::LoginRefusedCode5);
            break;
        default:
            close(DisconnectReason::LoginRefused);
            break;
    }
}

void ClientSession::fail(int reason) {
    _loginState.store(Failed);
    close(reason);
}
