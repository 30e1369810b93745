#pragma once

#include <cstdint>

#include "network/protocol/ISyncOption.h"

// Sync option 3: u32 oemFlag (1 = an OEM build), string oemName.
class RemoteOemInfo : public ISyncOption {
public:
    static constexpr int NameSize = 33;

    RemoteOemInfo();
    void readFrom(ByteBuffer& buffer) override;
    void writeTo(ByteBuffer& buffer) const override;
    int length() const override;
    uint8_t id() const override { return SyncOptionId::RemoteOemInfo; }

    bool isOem() const { return _oem; }
    const char* oemName() const { return _oemName; }
    void set(bool oem, const char* name);
    void clear() { set(false, ""); }

private:
    bool _oem;
    char _oemName[NameSize];
};
