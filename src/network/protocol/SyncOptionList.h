#pragma once

#include <cstddef>
#include <vector>

#include "network/protocol/INetStruct.h"

class ISyncOption;

// An ordered list of sync options (not owned, at most 64). Wire form: per option u8 id,
// u16 length, its bytes; no count and no terminator, so it runs to the end of the payload.
class SyncOptionList : public INetStruct {
public:
    static constexpr int MaxOptions = 64;

    // False when the list is full.
    bool add(const ISyncOption& option);
    int count() const { return static_cast<int>(_options.size()); }
    const ISyncOption& at(int index) const { return *_options.at(static_cast<size_t>(index)); }

    void writeTo(ByteBuffer& buffer) const override;
    // The options are written only; reading a peer's options needs destinations, which the
    // sync-response parser provides. Skips everything left in the buffer.
    void readFrom(ByteBuffer& buffer) override;

private:
    std::vector<const ISyncOption*> _options;
};
