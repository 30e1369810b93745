#pragma once

#include <cstdint>

#include "network/protocol/INetStruct.h"

// One typed option of the sync exchange. On the wire it is preceded by its id (u8) and
// length (u16); length() is exactly what writeTo writes, so a list is written in one pass.
class ISyncOption : public INetStruct {
public:
    virtual int length() const = 0;
    virtual uint8_t id() const = 0;
};

// Option identifiers. Fixed by the recorders in the field.
namespace SyncOptionId {
inline constexpr uint8_t ProfileList = 1;
inline constexpr uint8_t ProductInfo = 2;
inline constexpr uint8_t RemoteOemInfo = 3;
inline constexpr uint8_t EncryptionKey = 4;
inline constexpr uint8_t RemoteSystemInfo = 5;
inline constexpr uint8_t RequestOptionList = 8;
inline constexpr uint8_t NewAliveCheck = 13;
inline constexpr uint8_t Highest = 13;
}  // namespace SyncOptionId
