#pragma once

#include <array>
#include <cstdint>

#include "network/protocol/ISyncOption.h"

// Sync option 5: the recorder's hardware address, kind, channel counts and name. A
// systemKind of 0 means the recorder sent none.
class RemoteSystemInfo : public ISyncOption {
public:
    static constexpr int NameSize = 33;

    RemoteSystemInfo();
    void readFrom(ByteBuffer& buffer) override;
    void writeTo(ByteBuffer& buffer) const override;
    int length() const override;
    uint8_t id() const override { return SyncOptionId::RemoteSystemInfo; }

    void clear();
    // Defaults for a recorder that sent no system information, from its product info.
    void fillDefaults(uint32_t modelCode);

    std::array<uint8_t, 6> hardwareAddress{};
    uint8_t systemKind = 0;  // 1, 2 or 3; other values read as 0
    uint8_t VideoInNum = 0;
    uint8_t AudioInNum = 0;
    uint8_t AudioOutNum = 0;
    uint8_t AlarmNum = 0;
    uint8_t SensorNum = 0;

    const char* systemName() const { return _systemName; }
    void setSystemName(const char* name);

private:
    char _systemName[NameSize];
};
