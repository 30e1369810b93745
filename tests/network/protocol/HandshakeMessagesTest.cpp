#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/ByteBufferException.h"
#include "network/protocol/ClientPacketAnalyzer.h"
#include "network/protocol/EncryptionKey.h"
#include "network/protocol/FinOption.h"
#include "network/protocol/Login.h"
#include "network/protocol/LoginResult.h"
#include "network/protocol/NewAliveCheckOption.h"
#include "network/protocol/Packet.h"
#include "network/protocol/ProductInfo.h"
#include "network/protocol/ProfileList.h"
#include "network/protocol/Protocol.h"
#include "network/protocol/RemoteOemInfo.h"
#include "network/protocol/RemoteSystemInfo.h"
#include "network/protocol/RequestOptionList.h"
#include "network/protocol/SyncOptionList.h"

namespace {

std::vector<uint8_t> payloadOf(Packet& packet) {
    return std::vector<uint8_t>(packet.data() + 8, packet.data() + packet.limit());
}

// A sync response as a recorder would send it: protocol, then raw option bytes.
Packet syncResponse(const Protocol& protocol, const std::vector<uint8_t>& options) {
    Packet packet;
    packet.begin(PacketType::SyncResponse);
    protocol.writeTo(packet);
    packet.put(options.data(), static_cast<int>(options.size()));
    packet.finish(true);
    return packet;
}

struct ParsedSync {
    ProfileList profiles;
    ProductInfo product;
    RemoteOemInfo oem;
    RemoteSystemInfo system;
    EncryptionKey::Bytes key{};
    bool newAliveCheck = true;

    bool parse(Packet& packet) {
        ClientPacketAnalyzer analyzer;
        return analyzer.parseSyncResponse(packet, {&profiles, &product, &oem, &system, &key, &newAliveCheck});
    }
};

}  // namespace

TEST(HandshakeMessages, SyncRequestCarriesProtocolAndNewAliveCheckOption) {
    SyncOptionList options;
    options.add(NewAliveCheckOption::instance());
    Packet packet;
    ClientPacketAnalyzer().buildSyncRequest(packet, options);
    EXPECT_EQ(packet.type(), 1);
    EXPECT_EQ(packet.payloadLength(), 12u);
    std::vector<uint8_t> expected = {0x4B, 0x56, 0x52, 0x5A, 0x01, 0x00, 0x01, 0x01, 0x0D, 0x00, 0x00, 0x00};
    EXPECT_EQ(payloadOf(packet), expected);
}

TEST(HandshakeMessages, LoginRequestCarriesUserDigestOfPasswordThenKeyAndMethod) {
    Packet packet;
    ClientPacketAnalyzer().buildLoginRequest(packet, Login("admin", "secret"), EncryptionKey::Bytes{1, 2, 3, 4});
    ASSERT_EQ(packet.payloadLength(), 32u);
    std::vector<uint8_t> expected = {0x00, 0x05, 'a', 'd', 'm', 'i', 'n', 0x00, 0x10,
                                     // MD5("secret" 01 02 03 04)
                                     0x2c, 0x5f, 0xdf, 0xea, 0xaf, 0x56, 0xb8, 0x65, 0xc5, 0x8a, 0x2f, 0xa0, 0x9b, 0x7b,
                                     0x2c, 0x61, 0x00, 0x03, 'm', 'd', '5', 0x00, 0x00};
    EXPECT_EQ(payloadOf(packet), expected);
}

TEST(HandshakeMessages, LoginCredentialsAreCutToSixteenCharacters) {
    Login login("a-very-long-user-name", "0123456789abcdefXYZ");
    EXPECT_STREQ(login.user(), "a-very-long-user");
    EXPECT_STREQ(login.password(), "0123456789abcdef");
}

TEST(HandshakeMessages, ProtocolCompatibilityFollowsNameVersionAndAcceptsNewer) {
    const Protocol& local = Protocol::local();
    EXPECT_TRUE(local.isCompatible(Protocol("KVRZ", 0, false, 1, 1)));
    EXPECT_TRUE(local.isCompatible(Protocol("KVRZ", 1, false, 1, 1)));
    EXPECT_FALSE(local.isCompatible(Protocol("KVRZ", 2, false, 1, 1)));
    EXPECT_TRUE(local.isCompatible(Protocol("KVRZ", 2, true, 1, 1)));
    EXPECT_FALSE(local.isCompatible(Protocol("KVRX", 1, true, 1, 1)));
    // The version is signed: 0x80 is -128, an old version.
    EXPECT_TRUE(local.isCompatible(Protocol("KVRZ", static_cast<int8_t>(0x80), false, 1, 1)));
}

TEST(HandshakeMessages, SyncResponseSkipsUnknownOptionAndStillTakesTheKey) {
    Packet packet = syncResponse(Protocol::local(), {200, 0x00, 0x03, 9, 9, 9,        // unknown id 200
                                                     4, 0x00, 0x04, 0xDE, 0xAD, 0xBE, 0xEF,  // key
                                                     13, 0x00, 0x00});                 // new alive check
    ParsedSync parsed;
    ASSERT_TRUE(parsed.parse(packet));
    EXPECT_EQ(parsed.key, (EncryptionKey::Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_TRUE(parsed.newAliveCheck);
}

TEST(HandshakeMessages, SyncResponseOptionsRoundTripAndLongerOptionsAreSkippedToTheirEnd) {
    ProductInfo product;
    product.set(1, 0x1601, "NVR-16", "1.2");
    Packet body;
    body.clear();
    product.writeTo(body);
    std::vector<uint8_t> options = {2, 0x00, static_cast<uint8_t>(product.length() + 2)};
    options.insert(options.end(), body.data(), body.data() + body.position());
    options.insert(options.end(), {0xAA, 0xBB});  // two bytes the client does not know about
    options.insert(options.end(), {1, 0x00, 0x07, 2, 2, 1, 0xFF, 7, 0, 0x00});  // profiles 2 and 7 (7 reads as 0)
    Packet packet = syncResponse(Protocol::local(), options);

    ParsedSync parsed;
    ASSERT_TRUE(parsed.parse(packet));
    EXPECT_EQ(parsed.product.modelCode(), 0x1601u);
    EXPECT_STREQ(parsed.product.modelName(), "NVR-16");
    EXPECT_STREQ(parsed.product.version(), "1.2");
    ASSERT_EQ(parsed.profiles.count(), 2);
    EXPECT_TRUE(parsed.profiles.contains(2));
    EXPECT_EQ(parsed.profiles.entry(1).type, 0);
    EXPECT_FALSE(parsed.newAliveCheck);
}

TEST(HandshakeMessages, IncompatibleOrTruncatedSyncResponsesAreRejected) {
    Packet wrongName = syncResponse(Protocol("XVRZ", 1, false, 1, 1), {});
    ParsedSync parsed;
    EXPECT_FALSE(parsed.parse(wrongName));

    // An option announcing more bytes than the packet holds.
    Packet truncated = syncResponse(Protocol::local(), {4, 0x00, 0x08, 1, 2, 3, 4});
    ParsedSync parsed2;
    EXPECT_THROW(parsed2.parse(truncated), ByteBufferException);
}

TEST(HandshakeMessages, EveryOptionWritesExactlyTheLengthItAnnounces) {
    ProfileList profiles;
    profiles.add(2, 1, true);
    profiles.add(3, 0, false);
    ProductInfo product;
    product.set(5, 0x0401, "a-model-name-longer-than-sixteen", "v");
    RemoteOemInfo oem;
    oem.set(true, "OEM");
    RemoteSystemInfo system;
    system.setSystemName("site");
    RequestOptionList requests;
    requests.add(4);
    requests.add(5);
    EncryptionKey key;
    const ISyncOption* all[] = {&profiles, &product, &oem, &system, &requests, &key, &NewAliveCheckOption::instance()};
    for (const ISyncOption* option : all) {
        Packet packet;
        packet.clear();
        option->writeTo(packet);
        EXPECT_EQ(packet.position(), option->length()) << "option " << int(option->id());
    }
    EXPECT_STREQ(product.modelName(), "a-model-name-lon");
}

TEST(HandshakeMessages, UnknownModelCodesAndKindsReadAsZero) {
    Packet packet;
    packet.clear();
    ProductInfo written;
    written.set(9, 0x12345678, "x", "y");
    written.writeTo(packet);
    packet.flip();
    ProductInfo read;
    read.readFrom(packet);
    EXPECT_EQ(read.productKind(), 0);
    EXPECT_EQ(read.modelCode(), 0u);
}

TEST(HandshakeMessages, LoginResultWithoutExtraReadsMinusOneAndUnknownCodesReadZero) {
    Packet packet;
    packet.begin(PacketType::LoginResponse);
    packet.put(uint8_t{4});
    packet.putInt(77);
    packet.finish(false);
    LoginResult result;
    ClientPacketAnalyzer().parseLoginResponse(packet, result);
    EXPECT_EQ(result.code, 4);
    EXPECT_EQ(result.value, 77u);
    EXPECT_EQ(result.extra, -1);

    packet.begin(PacketType::LoginResponse);
    packet.put(uint8_t{9});
    packet.putInt(0);
    packet.putInt(5);
    packet.finish(true);
    ClientPacketAnalyzer().parseLoginResponse(packet, result);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.extra, 5);
}

TEST(HandshakeMessages, FinOptionRoundTripsAndCutsItsText) {
    Packet packet;
    packet.clear();
    FinOption(3, "a text of twenty chars", 0x1234).writeTo(packet);
    packet.flip();
    FinOption read;
    read.readFrom(packet);
    EXPECT_EQ(read.kind(), 3);
    EXPECT_STREQ(read.text(), "a text of twent");
    EXPECT_EQ(read.value(), 0x1234);
}
