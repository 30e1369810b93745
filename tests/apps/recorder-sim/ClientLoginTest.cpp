#include <gtest/gtest.h>

#include "TestFacade.h"
#include "base/InvalidSessionHandleException.h"
#include "base/SendQueueOverflowException.h"
#include "base/SocketAddressInfoException.h"
#include "network/protocol/ClientSession.h"
#include "network/session/DisconnectReason.h"
#include "network/socket/ServerSocketChannel.h"

using Fault = RecorderSimConfig::Fault;

TEST(ClientLogin, LogsInWithTheDigestCheckedByTheRecorderAndClosesOnRequest) {
    auto sim = startSim();
    TestFacade facade;
    int handle = facade.connectTo(*sim, "admin", "secret");
    ASSERT_GE(handle, 1000);
    ASSERT_TRUE(facade.waitLoggedIn(handle));
    EXPECT_EQ(sim->loginCount(), 1);
    EXPECT_EQ(facade.read(facade.modelCode), 0x1601u);
    EXPECT_EQ(facade.read(facade.videoInputs), 16);
    EXPECT_STREQ(facade.login(handle)->user(), "admin");
    EXPECT_EQ(facade.remoteAddress(handle).port(), sim->port());

    facade.close(handle);
    EXPECT_EQ(facade.waitDisconnected(handle), 0);
    // The handle is unmapped right after disconnected() returns.
    EXPECT_TRUE(facade.waitUntil([&] { return !facade.login(handle).has_value(); }));
    EXPECT_THROW(facade.sessionByHandle(handle), InvalidSessionHandleException);
    EXPECT_EQ(facade.freeSpace(handle), 0);

    // Handles keep counting up; a closed one is not handed out again.
    int next = facade.connectTo(*sim, "admin", "secret");
    EXPECT_EQ(next, handle + 1);
    EXPECT_TRUE(facade.waitLoggedIn(next));
}

TEST(ClientLogin, WrongPasswordOrUserIsRefusedWith308) {
    auto sim = startSim();
    TestFacade facade;
    int wrongPassword = facade.connectTo(*sim, "admin", "guess");
    int wrongUser = facade.connectTo(*sim, "root", "secret");
    EXPECT_EQ(facade.waitDisconnected(wrongPassword), DisconnectReason::LoginRefused);
    EXPECT_EQ(facade.waitDisconnected(wrongUser), DisconnectReason::LoginRefused);
    EXPECT_EQ(facade.read(facade.loginCodes)[wrongPassword], 2);
    EXPECT_EQ(sim->loginCount(), 0);
}

TEST(ClientLogin, EveryRecorderFaultEndsWithItsOwnReason) {
    struct Case {
        const char* name;
        std::function<void(RecorderSimConfig&)> configure;
        int reason;
    };
    const Case cases[] = {
        {"channel full", [](auto& c) { c.fault = Fault::ChannelFull; }, DisconnectReason::ChannelFull},
        {"login code 2", [](auto& c) { c.fault = Fault::RefuseLogin; c.refusedLoginCode = 2; }, 308},
        {"login code 3", [](auto& c) { c.fault = Fault::RefuseLogin; c.refusedLoginCode = 3; }, 309},
        {"login code 4", [](auto& c) { c.fault = Fault::RefuseLogin; c.refusedLoginCode = 4; }, 310},
        {"login code 5", [](auto& c) { c.fault = Fault::RefuseLogin; c.refusedLoginCode = 5; }, 311},
        {"protocol name", [](auto& c) { c.fault = Fault::WrongProtocolName; }, DisconnectReason::ProtocolError},
        {"newer version", [](auto& c) { c.fault = Fault::WrongProtocolVersion; }, DisconnectReason::ProtocolError},
        {"no playback", [](auto& c) { c.fault = Fault::NoPlaybackProfile; }, DisconnectReason::NoPlaybackProfile},
        {"oversize", [](auto& c) { c.fault = Fault::OversizeHeader; }, DisconnectReason::InvalidPayloadSize},
        {"garbage", [](auto& c) { c.fault = Fault::Garbage; }, DisconnectReason::ProtocolError},
        {"mid-packet close", [](auto& c) { c.fault = Fault::CloseMidPacket; }, DisconnectReason::PeerClosed},
    };
    TestFacade facade;
    for (const Case& test : cases) {
        auto sim = startSim(test.configure);
        int handle = facade.connectTo(*sim, "admin", "secret");
        EXPECT_EQ(facade.waitDisconnected(handle), test.reason) << test.name;
        EXPECT_FALSE(facade.isLoggedIn(handle)) << test.name;
    }
}

TEST(ClientLogin, NewerRecorderThatAcceptsOlderClientsIsServed) {
    auto sim = startSim([](auto& c) {
        c.fault = Fault::WrongProtocolVersion;
        c.acceptsNewer = true;
    });
    TestFacade facade;
    EXPECT_TRUE(facade.waitLoggedIn(facade.connectTo(*sim, "admin", "secret")));
}

TEST(ClientLogin, ConnectFailuresBeforeAnyRecorderAnswers) {
    TestFacade facade;
    ServerSocketChannel closed;
    closed.open();
    closed.bind(SocketAddress("127.0.0.1", 0), 1);
    uint16_t port = closed.localAddress().port();
    closed.close();
    int refused = facade.connect(SiteAddress{"127.0.0.1", port, "admin", "secret"}, nullptr);
    EXPECT_EQ(facade.waitDisconnected(refused), DisconnectReason::ConnectionRefused);

    try {
        facade.connect(SiteAddress{"recorder.invalid", 4000, "admin", "secret"}, nullptr);
        ADD_FAILURE() << "an unresolvable host was accepted";
    } catch (const SocketAddressInfoException& e) {
        EXPECT_EQ(e.errorCode(), DisconnectReason::HostNotFound);
    }
}

TEST(ClientLogin, RequestsOnUnknownHandlesAndOversizedPacketsRaise) {
    auto sim = startSim();
    TestFacade facade;
    Packet packet;
    packet.begin(600);
    packet.finish(true);
    EXPECT_THROW(facade.sendPacket(999, packet, Priority::Normal), InvalidSessionHandleException);

    int handle = facade.connectTo(*sim, "admin", "secret");
    ASSERT_TRUE(facade.waitLoggedIn(handle));
    Packet huge;
    huge.begin(600);
    std::vector<uint8_t> bytes(1048576, 0x55);
    huge.put(bytes.data(), static_cast<int>(bytes.size()));
    huge.finish(true);
    EXPECT_THROW(facade.sendPacket(handle, huge, Priority::Normal), SendQueueOverflowException);
    // The connection survives a refused send.
    EXPECT_NO_THROW(facade.sendPacket(handle, packet, Priority::Normal));
}

TEST(ClientLogin, UpkeepMessagesAfterLogin) {
    auto sim = startSim([](auto& c) { c.finAfterLogin = true; });
    TestFacade facade;
    int handle = facade.connectTo(*sim, "admin", "secret");
    ASSERT_TRUE(facade.waitLoggedIn(handle));
    // Fin notice reaches the facade.
    EXPECT_TRUE(facade.waitUntil([&] { return facade.fins.count(handle) != 0; }));
    EXPECT_EQ(facade.read(facade.fins)[handle], "shutdown");

    // An alive-check request is answered with a reply.
    sim->sendAliveCheckToAll(false);
    EXPECT_TRUE(facade.waitUntil([&] { return sim->aliveRepliesReceived() == 1; }));

    // A packet type the client does not know is answered with the unknown-type notice; a
    // notice itself is not (a peer that answers notices in kind would never stop). The
    // connection keeps its order, so a notice answered would arrive before the other.
    sim->sendToAll(PacketType::UnknownTypeNotice, {0x02, 0x58});
    sim->sendToAll(600, {});
    EXPECT_TRUE(facade.waitUntil([&] { return !sim->unknownNotices().empty(); }));
    EXPECT_EQ(sim->unknownNotices(), std::vector<uint16_t>{600});
    EXPECT_TRUE(facade.isLoggedIn(handle));
    EXPECT_EQ(facade.read(facade.reasons).count(handle), 0u);
}

TEST(ClientLogin, ShortPacketClosesItsSessionAndTheOthersCarryOn) {
    auto sim = startSim();
    TestFacade facade;
    int victim = facade.connectTo(*sim, "admin", "secret");
    ASSERT_TRUE(facade.waitLoggedIn(victim));
    // A fin notice whose payload stops after its kind byte.
    sim->sendToAll(PacketType::FinNotice, {1});
    EXPECT_EQ(facade.waitDisconnected(victim), DisconnectReason::ProtocolError);

    int other = facade.connectTo(*sim, "admin", "secret");
    EXPECT_TRUE(facade.waitLoggedIn(other));
}

TEST(ClientLogin, SessionClosedFromItsOwnCallbackIsTornDownAfterwards) {
    auto sim = startSim();
    TestFacade facade;
    std::atomic<bool> queriedInside{false};
    facade.onLoggedIn = [&](int handle) {
        facade.close(handle);
        // Still mapped and usable until the close has been carried out.
        queriedInside = facade.login(handle).has_value() && facade.sessionByHandle(handle).context() != nullptr;
    };
    int handle = facade.connectTo(*sim, "admin", "secret");
    EXPECT_EQ(facade.waitDisconnected(handle), 0);
    EXPECT_TRUE(queriedInside);
    EXPECT_EQ(facade.read(facade.disconnects)[handle], 1);
}
