#include "SessionHandler.h"

#include <cstring>
#include <string>

#include <sys/random.h>

#include "RecorderConnection.h"
#include "RecorderSim.h"
#include "network/protocol/FinOption.h"
#include "network/protocol/LoginDigest.h"
#include "network/protocol/LoginResult.h"
#include "network/protocol/NewAliveCheckOption.h"
#include "network/protocol/Packet.h"
#include "network/protocol/ProductInfo.h"
#include "network/protocol/ProfileList.h"
#include "network/protocol/Protocol.h"
#include "network/protocol/RemoteOemInfo.h"
#include "network/protocol/RemoteSystemInfo.h"
#include "network/protocol/SyncOptionList.h"

using Fault = RecorderSimConfig::Fault;

namespace {

EncryptionKey::Bytes freshKey() {
    EncryptionKey::Bytes key{};
    size_t filled = 0;
    while (filled < key.size()) {
        ssize_t n = ::getrandom(key.data() + filled, key.size() - filled, 0);
        if (n > 0) {
            filled += static_cast<size_t>(n);
        }
    }
    return key;
}

}  // namespace

SessionHandler::SessionHandler(const RecorderSimConfig& config) : _config(config), _key(freshKey()) {}

bool SessionHandler::handle(RecorderConnection& connection, Packet& packet) {
    switch (packet.type()) {
        case PacketType::SyncRequest:
            onSyncRequest(connection, packet);
            return true;
        case PacketType::LoginRequest:
            onLoginRequest(connection, packet);
            return true;
        case PacketType::AliveCheck:
            onAliveCheck(connection, packet);
            return true;
        case PacketType::UnknownTypeNotice:
            packet.payload();
            connection.sim().recordUnknownNotice(packet.getShort());
            return true;
        default:
            return false;
    }
}

void SessionHandler::onSyncRequest(RecorderConnection& connection, Packet& packet) {
    packet.payload();
    Protocol clientProtocol;
    clientProtocol.readFrom(packet);
    _synced = true;
    switch (_config.fault) {
        case Fault::ChannelFull: {
            Packet full;
            full.begin(PacketType::ChannelFull);
            full.finish(true);
            connection.send(full);
            return;
        }
        case Fault::OversizeHeader: {
            const uint8_t header[8] = {0x06, 0x17, 0x00, 0x01, 0x00, 0x10, 0x00, 0x01};  // 1048577 bytes follow
            connection.sendRaw(header, sizeof header);
            return;
        }
        case Fault::Garbage: {
            // A header of no known magic or type announcing 24 bytes, then 24 bytes of noise.
            uint8_t noise[32] = {0xA5, 0xA5, 0x5A, 0x5A, 0x00, 0x00, 0x00, 0x18};
            for (int i = 8; i < 32; ++i) {
                noise[i] = static_cast<uint8_t>(0x3C ^ (i * 37));
            }
            connection.sendRaw(noise, sizeof noise);
            return;
        }
        default:
            sendSyncResponse(connection);
            return;
    }
}

void SessionHandler::sendSyncResponse(RecorderConnection& connection) {
    Protocol protocol = Protocol::local();
    if (_config.fault == Fault::WrongProtocolName) {
        protocol = Protocol("XVRZ", 1, false, 1, 1);
    } else if (_config.fault == Fault::WrongProtocolVersion) {
        protocol = Protocol("KVRZ", 2, _config.acceptsNewer, 1, 1);
    }
    ProfileList profiles;
    if (_config.fault == Fault::NoPlaybackProfile) {
        profiles.add(1, 1, true);
        profiles.add(3, 1, true);
    } else {
        profiles.add(1, 1, true);
        profiles.add(2, 1, true);
    }
    ProductInfo product;
    product.set(1, 0x1601, "QF-SIM16", _config.productVersion.c_str());
    RemoteOemInfo oem;
    oem.set(false, "Quill Fen Simulator");
    RemoteSystemInfo system;
    system.hardwareAddress = {0x02, 0x51, 0x46, 0x00, 0x00, 0x01};
    system.systemKind = 1;
    system.VideoInNum = 16;
    system.AudioInNum = 4;
    system.AudioOutNum = 1;
    system.AlarmNum = 8;
    system.SensorNum = 8;
    system.setSystemName("recorder-sim");
    EncryptionKey key(_key);

    SyncOptionList options;
    options.add(profiles);
    options.add(product);
    options.add(oem);
    options.add(key);
    options.add(system);
    if (_config.newAliveCheck) {
        options.add(NewAliveCheckOption::instance());
    }

    Packet response;
    response.begin(PacketType::SyncResponse);
    protocol.writeTo(response);
    options.writeTo(response);
    response.finish(true);
    if (_config.fault == Fault::CloseMidPacket) {
        connection.sendRaw(response.data(), response.limit() / 2);
        connection.closeAfterFlush();
        return;
    }
    connection.send(response);
}

void SessionHandler::onLoginRequest(RecorderConnection& connection, Packet& packet) {
    packet.payload();
    char user[64];
    packet.getString(user, sizeof user);
    int digestLength = packet.get();
    LoginDigest::Bytes digest{};
    if (digestLength != static_cast<int>(digest.size())) {
        connection.abort();
        return;
    }
    packet.get(digest.data(), digestLength);
    char method[8];
    packet.getString(method, sizeof method);

    LoginResult result;
    result.value = 0;
    result.extra = 0;
    bool credentialsOk = _synced && std::string(user) == _config.user &&
                         digest == LoginDigest::compute(_config.password.c_str(), _key) &&
                         std::strcmp(method, "md5") == 0;
    if (_config.fault == Fault::RefuseLogin) {
        result.code = _config.refusedLoginCode;
    } else {
        result.code = credentialsOk ? LoginOk : LoginBadCredentials;
    }
    Packet response;
    response.begin(PacketType::LoginResponse);
    result.writeTo(response);
    response.finish(true);
    connection.send(response);
    if (result.code != LoginOk) {
        return;
    }
    connection.loggedIn = true;
    connection.sim().countLogin();
    if (_config.fault == Fault::Silent) {
        connection.silent = true;
        return;
    }
    if (_config.finAfterLogin) {
        Packet fin;
        fin.begin(PacketType::FinNotice);
        FinOption(1, "shutdown", 0).writeTo(fin);
        fin.finish(true);
        connection.send(fin);
    }
}

void SessionHandler::onAliveCheck(RecorderConnection& connection, Packet& packet) {
    packet.payload();
    bool isReply = packet.remaining() == 0 || packet.getBool();
    if (isReply) {
        connection.sim().countAliveReply();
        return;
    }
    connection.sim().countAliveRequest();
    Packet answer;
    answer.begin(PacketType::AliveCheck);
    answer.putBool(true);
    answer.finish(true);
    connection.send(answer);
}

void SessionHandler::tick(RecorderConnection& connection, uint32_t nowMs) {
    if (!connection.loggedIn || connection.silent || _config.aliveIntervalMs <= 0) {
        return;
    }
    if (nowMs - connection.lastSendMs >= static_cast<uint32_t>(_config.aliveIntervalMs)) {
        Packet check;
        check.begin(PacketType::AliveCheck);
        check.putBool(false);
        check.finish(true);
        connection.send(check);
    }
}
