#pragma once

#include <vector>

#include "network/protocol/ISyncOption.h"

// Sync option 8: u8 count, then option ids the sender asks the peer for. The client never
// sends it and skips it in a sync response.
class RequestOptionList : public ISyncOption {
public:
    void readFrom(ByteBuffer& buffer) override;
    void writeTo(ByteBuffer& buffer) const override;
    int length() const override { return static_cast<int>(_ids.size()) + 1; }
    uint8_t id() const override { return SyncOptionId::RequestOptionList; }

    const std::vector<uint8_t>& ids() const { return _ids; }
    void add(uint8_t optionId);

private:
    std::vector<uint8_t> _ids;
};
