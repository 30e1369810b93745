#include "network/protocol/ClientPacketAnalyzer.h"

#include "base/Trace.h"
#include "network/protocol/ClientFacade.h"
#include "network/protocol/FinOption.h"
#include "network/protocol/Login.h"
#include "network/protocol/LoginDigest.h"
#include "network/protocol/LoginResult.h"
#include "network/protocol/Packet.h"
#include "network/protocol/ProductInfo.h"
#include "network/protocol/ProfileList.h"
#include "network/protocol/Protocol.h"
#include "network/protocol/RemoteOemInfo.h"
#include "network/protocol/RemoteSystemInfo.h"

bool ClientPacketAnalyzer::dispatch(int handle, Packet& packet, CommonFacade& facade) {
    if (packet.type() == PacketType::FinNotice) {
        packet.payload();
        FinOption fin;
        fin.readFrom(packet);
        if (auto* client = dynamic_cast<ClientFacade*>(&facade)) {
            client->finReceived(handle, fin);
        }
        return true;
    }
    if (packet.type() == PacketType::UnknownTypeNotice) {
        // Never answered: a peer that answers notices in kind would otherwise keep the two
        // sides sending each other notices for ever.
        packet.payload();
        int type = packet.remaining() >= 2 ? packet.getShort() : -1;
        QF_TRACE("handle[%d] recorder did not understand packet type %d\n", handle, type);
        return true;
    }
    facade.unknownPacket(handle, packet);
    return true;
}

void ClientPacketAnalyzer::buildLoginRequest(Packet& packet, const Login& login, const EncryptionKey::Bytes& key) {
    LoginDigest::Bytes digest = LoginDigest::compute(login.password(), key);
    packet.begin(PacketType::LoginRequest);
    packet.putString(login.user());
    packet.put(static_cast<uint8_t>(digest.size()));
    packet.put(digest.data(), static_cast<int>(digest.size()));
    packet.putString("md5");
    packet.finish(true);
}

void ClientPacketAnalyzer::parseLoginResponse(Packet& packet, LoginResult& result) {
    packet.payload();
    result.readFrom(packet);
}

bool ClientPacketAnalyzer::parseSyncResponse(Packet& packet, const SyncResponse& into) {
    packet.payload();
    Protocol received;
    received.readFrom(packet);
    if (!Protocol::local().isCompatible(received)) {
        return false;
    }
    *into.newAliveCheck = false;
    while (packet.remaining() > 0) {
        uint8_t id = packet.get();
        bool known = id >= 1 && id <= SyncOptionId::Highest;
        if (!known && packet.remaining() < 2) {
            break;
        }
        int length = packet.getShort();
        int start = packet.position();
        switch (id) {
            case SyncOptionId::ProfileList:
                into.profiles->readFrom(packet);
                break;
            case SyncOptionId::ProductInfo:
                into.productInfo->readFrom(packet);
                break;
            case SyncOptionId::RemoteOemInfo:
                into.oemInfo->readFrom(packet);
                break;
            case SyncOptionId::EncryptionKey:
                packet.get(into.key->data(), 4);
                break;
            case SyncOptionId::RemoteSystemInfo:
                into.systemInfo->readFrom(packet);
                break;
            case SyncOptionId::NewAliveCheck:
                *into.newAliveCheck = true;
                break;
            default:
                QF_TRACE("unknown sync option id = %d, length = %d\n", id, length);
                break;
        }
        int consumed = packet.position() - start;
        if (consumed < length) {
            packet.skip(length - consumed);
        }
    }
    return true;
}
