#pragma once

#include <cstdint>

class CommonFacade;
class INetStruct;
class Packet;

// Builds and reads the messages of one service and routes received packets to its facade.
// Stateless: one analyzer serves every session of a facade, on any thread, as long as each
// caller builds into its own packet.
class PacketAnalyzer {
public:
    virtual ~PacketAnalyzer() = default;

    // Hands a received packet (positioned anywhere) to the facade. True when the packet was
    // handled and the session may receive the next one. Parsers raise ByteBufferException
    // on a packet shorter than its layout.
    virtual bool dispatch(int handle, Packet& packet, CommonFacade& facade) = 0;
    // Type 1: our protocol identity, then the options.
    virtual void buildSyncRequest(Packet& packet, const INetStruct& options);
    // Type 7: bool isReply.
    virtual void buildAliveCheck(Packet& packet, bool isReply);
    // Type 9: the packet type that was not understood.
    virtual void buildUnknownTypeNotice(Packet& packet, uint16_t type);
};
