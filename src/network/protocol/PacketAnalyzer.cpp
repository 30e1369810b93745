#include "network/protocol/PacketAnalyzer.h"

#include "network/protocol/INetStruct.h"
#include "network/protocol/Packet.h"
#include "network/protocol/Protocol.h"

void PacketAnalyzer::buildSyncRequest(Packet& packet, const INetStruct& options) {
    packet.begin(PacketType::SyncRequest);
    Protocol::local().writeTo(packet);
    options.writeTo(packet);
    packet.finish(true);
}

void PacketAnalyzer::buildAliveCheck(Packet& packet, bool isReply) {
    packet.begin(PacketType::AliveCheck);
    packet.putBool(isReply);
    packet.finish(true);
}

void PacketAnalyzer::buildUnknownTypeNotice(Packet& packet, uint16_t type) {
    packet.begin(PacketType::UnknownTypeNotice);
    packet.putShort(type);
    packet.finish(true);
}
