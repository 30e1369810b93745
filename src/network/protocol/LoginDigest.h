#pragma once

#include <array>
#include <cstdint>

#include "network/protocol/EncryptionKey.h"

// The password proof of the login request: MD5 over the password's characters followed by
// the four key bytes the recorder sent for this connection. The password itself never
// travels. Stateless; any thread.
class LoginDigest {
public:
    using Bytes = std::array<uint8_t, 16>;

    static Bytes compute(const char* password, const EncryptionKey::Bytes& key);
};
