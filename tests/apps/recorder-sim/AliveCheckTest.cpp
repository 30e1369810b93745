#include <gtest/gtest.h>

#include "TestFacade.h"
#include "base/ByteBuffer.h"
#include "base/Clock.h"
#include "base/DateTime.h"
#include "network/protocol/CommonSession.h"
#include "network/protocol/SessionAliveChecker.h"
#include "network/session/DisconnectReason.h"
#include "network/socket/ServerSocketChannel.h"
#include "network/socket/SocketApiWrapper.h"
#include "network/socket/SocketChannel.h"

#include <atomic>

#include <poll.h>

namespace {

// Alive checks run on a ManualClock: the test moves time, the checker looks every 5 ms.
class AliveCheck : public ::testing::Test {
protected:
    void SetUp() override {
        SessionAliveChecker::Timings fast;
        fast.roundMs = 5;
        SessionAliveChecker::setTimings(fast);
    }
    void TearDown() override { SessionAliveChecker::setTimings(SessionAliveChecker::Timings()); }

    ManualClock _clock{DateTime(2024, 5, 1, 12, 0, 0)};
};

// Whether `fd` becomes readable within a few seconds.
bool readableSoon(int fd) {
    pollfd ready{fd, POLLIN, 0};
    return SocketApiWrapper::poll(&ready, 1, 10000) > 0;
}

}  // namespace

TEST_F(AliveCheck, SilentRecorderGetsOneCheckAfter120sAndIsDroppedAfter240s) {
    auto sim = startSim([](auto& c) {
        c.fault = RecorderSimConfig::Fault::Silent;
        c.aliveIntervalMs = 0;
    });
    TestFacade facade;
    int handle = facade.connectTo(*sim, "admin", "secret");
    ASSERT_TRUE(facade.waitLoggedIn(handle));

    _clock.advanceSeconds(119);
    _clock.advanceSeconds(2);
    ASSERT_TRUE(facade.waitUntil([&] { return sim->packetsReceived(PacketType::AliveCheck) == 1; }));
    _clock.advanceSeconds(100);  // 221 s: still waiting for the answer
    _clock.advanceSeconds(20);   // 241 s
    EXPECT_EQ(facade.waitDisconnected(handle), DisconnectReason::NoAliveAnswer);
    EXPECT_EQ(sim->packetsReceived(PacketType::AliveCheck), 1);
}

TEST_F(AliveCheck, AnsweringRecorderStaysConnected) {
    auto sim = startSim([](auto& c) { c.aliveIntervalMs = 0; });
    TestFacade facade;
    int handle = facade.connectTo(*sim, "admin", "secret");
    ASSERT_TRUE(facade.waitLoggedIn(handle));
    for (int i = 1; i <= 3; ++i) {
        _clock.advanceSeconds(121);
        ASSERT_TRUE(facade.waitUntil([&] { return sim->aliveRequestsReceived() == i; }));
        // The answer clears the outstanding check before the clock moves again.
        ASSERT_TRUE(facade.waitUntil([&] {
            return !facade.sessionByHandle(handle).aliveCheckOutstanding();
        }));
    }
    EXPECT_TRUE(facade.isLoggedIn(handle));
    EXPECT_EQ(facade.read(facade.reasons).count(handle), 0u);
}

TEST_F(AliveCheck, LegacyRecorderIsCheckedAfterEvery20sWithoutSending) {
    auto sim = startSim([](auto& c) {
        c.newAliveCheck = false;
        c.aliveIntervalMs = 0;
    });
    TestFacade facade;
    int handle = facade.connectTo(*sim, "admin", "secret");
    ASSERT_TRUE(facade.waitLoggedIn(handle));
    _clock.advanceSeconds(21);
    ASSERT_TRUE(facade.waitUntil([&] { return sim->aliveRequestsReceived() == 1; }));
    _clock.advanceSeconds(21);
    ASSERT_TRUE(facade.waitUntil([&] { return sim->aliveRequestsReceived() == 2; }));
}

TEST_F(AliveCheck, NewerRecorderIsNotCheckedWhileTrafficFlows) {
    auto sim = startSim([](auto& c) { c.aliveIntervalMs = 0; });
    TestFacade facade;
    int handle = facade.connectTo(*sim, "admin", "secret");
    ASSERT_TRUE(facade.waitLoggedIn(handle));
    for (int i = 0; i < 5; ++i) {
        _clock.advanceSeconds(21);
        // Keep the recorder talking: every answer to its check refreshes the receive tick.
        sim->sendToAll(600, {});
        ASSERT_TRUE(facade.waitUntil([&] { return sim->unknownNotices().size() == static_cast<size_t>(i + 1); }));
    }
    EXPECT_EQ(sim->aliveRequestsReceived(), 0);
}

TEST_F(AliveCheck, PacketArrivingWhileTheCheckerLooksIsNoSilence) {
    auto sim = startSim([](auto& c) { c.aliveIntervalMs = 0; });
    TestFacade facade;
    int handle = facade.connectTo(*sim, "admin", "secret");
    ASSERT_TRUE(facade.waitLoggedIn(handle));

    // In one round, after the checker has read the clock: a second later the recorder's
    // own check arrives and is answered (the answer marks a check outstanding). That
    // packet came after the round's time: no silence at all, not 49 days of it.
    std::atomic<int> step{0};  // 0 not yet, 1 arriving, 2 answered, 3 no answer in time
    SessionAliveChecker::setHookAfterClockRead([&] {
        int expected = 0;
        if (!step.compare_exchange_strong(expected, 1)) return;
        _clock.advanceSeconds(1);
        sim->sendAliveCheckToAll(false);
        step = facade.waitUntil([&] { return sim->aliveRepliesReceived() == 1; }) ? 2 : 3;
    });
    bool answered = facade.waitUntil([&] { return step >= 2; });
    SessionAliveChecker::setHookAfterClockRead({});
    ASSERT_TRUE(answered);
    ASSERT_EQ(step, 2);
    // The round is over (or has closed the session, which leaves the checker idle).
    uint64_t rounds = SessionAliveChecker::instance().rounds();
    ASSERT_TRUE(facade.waitUntil([&] {
        return SessionAliveChecker::instance().rounds() >= rounds + 2 || facade.reasons.count(handle) != 0;
    }));

    // A round trip after that round: a session it had closed would not carry it.
    sim->sendToAll(600, {});
    ASSERT_TRUE(facade.waitUntil([&] { return !sim->unknownNotices().empty() || facade.reasons.count(handle) != 0; }));
    EXPECT_EQ(facade.read(facade.reasons), (std::map<int, int>{})) << "handle and reason of a closed session";
    EXPECT_EQ(sim->unknownNotices().size(), 1u);
}

TEST_F(AliveCheck, RecorderOwnChecksAreAnsweredAtOnce) {
    auto sim = startSim([](auto& c) { c.aliveIntervalMs = 5000; });
    TestFacade facade;
    int handle = facade.connectTo(*sim, "admin", "secret");
    ASSERT_TRUE(facade.waitLoggedIn(handle));
    _clock.advanceSeconds(6);
    EXPECT_TRUE(facade.waitUntil([&] { return sim->aliveRepliesReceived() >= 1; }));
}

TEST_F(AliveCheck, RecorderStallingMidHandshakeIsDroppedAfter240s) {
    // Accepts the connection, reads the sync request and never answers.
    ServerSocketChannel listener;
    listener.open();
    listener.bind(SocketAddress("127.0.0.1", 0), 4);
    TestFacade facade;
    int handle = facade.connect(SiteAddress{"127.0.0.1", listener.localAddress().port(), "admin", "secret"}, nullptr);
    SocketChannel peer;
    ASSERT_TRUE(readableSoon(listener.socket()) && listener.accept(peer)) << "the client did not connect";
    // The sync request (8 + 12 bytes) arrives first.
    ByteBuffer syncRequest(20);
    while (syncRequest.remaining() > 0) {
        ASSERT_TRUE(readableSoon(peer.socket())) << "sync request incomplete: " << syncRequest.position() << " bytes";
        ASSERT_GT(peer.read(syncRequest), 0);
    }
    EXPECT_EQ(facade.sessionByHandle(handle).state(), SessionState::CONNECTING);
    _clock.advanceSeconds(200);
    _clock.advanceSeconds(41);
    EXPECT_EQ(facade.waitDisconnected(handle), DisconnectReason::NoAliveAnswer);

    // Nothing else was sent: no alive check during the handshake, just the close.
    ByteBuffer rest(64);
    ASSERT_TRUE(readableSoon(peer.socket())) << "the connection was not closed";
    EXPECT_EQ(peer.read(rest), 0);
}
