#pragma once

#include <cstdint>

#include "network/protocol/INetStruct.h"

// The protocol identity exchanged first in the sync request and response: a four-letter
// name, a version, whether newer peers are still acceptable, and two kind bytes. The local
// identity is a process-wide constant; a value type otherwise.
class Protocol : public INetStruct {
public:
    static constexpr int WireSize = 8;

    Protocol();
    Protocol(const char name[4], int8_t version, bool acceptsNewer, uint8_t kindA, uint8_t kindB);

    void readFrom(ByteBuffer& buffer) override;
    void writeTo(ByteBuffer& buffer) const override;

    // "KVRZ" version 1, not accepting newer peers, kinds 1 and 1.
    static const Protocol& local();

    // Whether a peer announcing `received` can be served by this protocol: same name, and a
    // version not above ours unless the peer says it accepts older ones.
    bool isCompatible(const Protocol& received) const;

    const char* name() const { return _name; }
    int8_t version() const { return _version; }
    bool acceptsNewer() const { return _acceptsNewer; }
    uint8_t kindA() const { return _kindA; }
    uint8_t kindB() const { return _kindB; }

private:
    char _name[5];
    int8_t _version;
    bool _acceptsNewer;
    uint8_t _kindA;
    uint8_t _kindB;
};
