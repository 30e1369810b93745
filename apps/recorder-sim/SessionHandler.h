#pragma once

#include "IRecorderPacketHandler.h"
#include "RecorderSimConfig.h"
#include "network/protocol/EncryptionKey.h"

// The recorder's side of the session: answers the sync request with its protocol and
// options (a fresh random key per connection), checks the login digest against the
// configured user and password, answers alive checks and sends its own while a client is
// logged in. Plays the configured fault. Loop thread only.
class SessionHandler : public IRecorderPacketHandler {
public:
    explicit SessionHandler(const RecorderSimConfig& config);

    bool handle(RecorderConnection& connection, Packet& packet) override;
    void tick(RecorderConnection& connection, uint32_t nowMs) override;

    // Login codes.
    static constexpr int LoginOk = 1;
    static constexpr int LoginBadCredentials = 2;

private:
    void onSyncRequest(RecorderConnection& connection, Packet& packet);
    void onLoginRequest(RecorderConnection& connection, Packet& packet);
    void onAliveCheck(RecorderConnection& connection, Packet& packet);
    void sendSyncResponse(RecorderConnection& connection);

    const RecorderSimConfig& _config;
    EncryptionKey::Bytes _key{};
    bool _synced = false;
};
