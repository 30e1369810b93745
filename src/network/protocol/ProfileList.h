#pragma once

#include <cstddef>
#include <vector>

#include "network/protocol/IProfileList.h"
#include "network/protocol/ISyncOption.h"

// Sync option 1: u8 count, then per entry u8 type, u8 value, bool flag.
class ProfileList : public ISyncOption, public IProfileList {
public:
    void readFrom(ByteBuffer& buffer) override;
    void writeTo(ByteBuffer& buffer) const override;
    int length() const override { return 3 * count() + 1; }
    uint8_t id() const override { return SyncOptionId::ProfileList; }

    int count() const override { return static_cast<int>(_entries.size()); }
    const Entry& entry(int index) const override { return _entries.at(static_cast<size_t>(index)); }
    bool contains(uint8_t profileType) const override;

    // At most 255 entries are kept.
    void add(uint8_t type, uint8_t value, bool flag);
    void clear() { _entries.clear(); }

private:
    std::vector<Entry> _entries;
};
