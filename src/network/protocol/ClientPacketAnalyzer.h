#pragma once

#include "network/protocol/EncryptionKey.h"
#include "network/protocol/PacketAnalyzer.h"

class Login;
class LoginResult;
class ProductInfo;
class ProfileList;
class RemoteOemInfo;
class RemoteSystemInfo;

// The client side of the session handshake and upkeep: login request, login response,
// sync response, fin notices and the unknown-type notice.
class ClientPacketAnalyzer : public PacketAnalyzer {
public:
    // Where the parts of a sync response go.
    struct SyncResponse {
        ProfileList* profiles;
        ProductInfo* productInfo;
        RemoteOemInfo* oemInfo;
        RemoteSystemInfo* systemInfo;
        EncryptionKey::Bytes* key;
        bool* newAliveCheck;
    };

    // Type 6 goes to the facade's finReceived; every other type is unknown here and is
    // answered with a type-9 notice through the facade's unknownPacket. Both count as
    // handled.
    bool dispatch(int handle, Packet& packet, CommonFacade& facade) override;

    // Type 2: user name, the 16-byte digest of password and key, "md5".
    virtual void buildLoginRequest(Packet& packet, const Login& login, const EncryptionKey::Bytes& key);
    virtual void parseLoginResponse(Packet& packet, LoginResult& result);
    // False when the recorder's protocol is not compatible with ours. Options the client does
    // not use are skipped to their announced end.
    virtual bool parseSyncResponse(Packet& packet, const SyncResponse& into);
};
