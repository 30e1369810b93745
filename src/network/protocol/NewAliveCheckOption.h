#pragma once

#include "network/protocol/ISyncOption.h"

// Sync option 13, without payload: its presence announces the newer alive-check scheme, in
// which idle connections are checked only after two minutes of silence.
class NewAliveCheckOption : public ISyncOption {
public:
    void readFrom(ByteBuffer&) override {}
    void writeTo(ByteBuffer&) const override {}
    int length() const override { return 0; }
    uint8_t id() const override { return SyncOptionId::NewAliveCheck; }

    // The process-wide instance every sync request carries.
    static const NewAliveCheckOption& instance();
};
