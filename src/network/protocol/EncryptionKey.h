#pragma once

#include <array>
#include <cstdint>

#include "network/protocol/ISyncOption.h"

// Sync option 4: the four one-time key bytes the recorder mixes into the login digest.
class EncryptionKey : public ISyncOption {
public:
    using Bytes = std::array<uint8_t, 4>;

    EncryptionKey() = default;
    explicit EncryptionKey(const Bytes& bytes) : _bytes(bytes) {}
    void readFrom(ByteBuffer& buffer) override;
    void writeTo(ByteBuffer& buffer) const override;
    int length() const override { return 4; }
    uint8_t id() const override { return SyncOptionId::EncryptionKey; }

    const Bytes& bytes() const { return _bytes; }

private:
    Bytes _bytes{};
};
