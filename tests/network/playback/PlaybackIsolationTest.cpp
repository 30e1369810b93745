#include <gtest/gtest.h>

#include <thread>

#include "DeliveryHold.h"
#include "PlaybackTestSupport.h"
#include "base/Clock.h"
#include "base/Exception.h"
#include "network/playback/NetworkPlaybackContext.h"
#include "network/protocol/CommonSession.h"
#include "network/protocol/SessionAliveChecker.h"
#include "network/session/DisconnectReason.h"
#include "network/socket/HostResolver.h"

// One site's trouble (a slow name server, a slow disk) must not reach any other site.

namespace {

// How long a hold lets go by itself, for a test that fails before it opens the gate: longer
// than the other site's whole playback, which the hold spans, may take.
constexpr std::chrono::seconds HoldBound(30);

// A name server that answers only when the test lets it.
class StallingResolver : public HostResolver {
public:
    StallingResolver() { HostResolver::setCurrent(this); }
    ~StallingResolver() override {
        gate.open();
        HostResolver::setCurrent(nullptr);
    }
    std::string resolve(const char*) override {
        gate.pass(HoldBound);
        return "127.0.0.1";
    }
    Gate gate;
};

// Holds every video frame in the listener (a storage write on a disk that has stalled)
// until the test opens the gate.
class StalledLog : public FrameLog {
public:
    using FrameLog::FrameLog;
    void videoFrameReceived(int handle, bool flag, int rate, const MediaFrame& frame,
                            const MediaPosition& position) override {
        gate.pass(HoldBound);
        FrameLog::videoFrameReceived(handle, flag, rate, frame, position);
    }
    Gate gate;
};

// Whether the session of `handle` still waits for the answer to an alive check.
bool otherSessionAwaitsAnswer(int handle) {
    try {
        return NetworkPlaybackContext::instance().sessionByHandle(handle).aliveCheckOutstanding();
    } catch (const Exception&) {
        return false;
    }
}

}  // namespace

TEST(PlaybackIsolation, SlowNameServerOfOneSiteHoldsUpNoOtherSite) {
    SimRecorder recorder(configFor(smallRecording()));
    const SyntheticRecording& recording = recorder.service.recording();
    FrameLog log(recording);
    NetworkPlaybackClient client;
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn) << log.describe();

    StallingResolver resolver;
    FrameLog slowLog(recording);
    NetworkPlaybackClient slowClient;
    slowClient.attach(0, &slowLog);
    std::jthread connecting(
        [&] { slowClient.connect("recorder.slow-name-server.test", recorder.sim.port(), "admin", "admin"); });
    EXPECT_TRUE(resolver.gate.reached());

    // The other site plays its whole recording while the look-up hangs.
    BitMask32 channels = recording.channelMask();
    ASSERT_TRUE(client.play(playAll(channels)));
    EXPECT_TRUE(log.waitStops(1)) << log.describe();
    EXPECT_EQ(positionsOf(log.read(log.frames)), positionsFrom(recording.cursorAtFirst(channels)));

    resolver.gate.open();
    connecting.join();
    EXPECT_TRUE(slowLog.waitConnected()) << slowLog.describe();
    slowClient.disconnect(true);
    slowClient.detach();
}

TEST(PlaybackIsolation, StalledListenerOfOneSiteDelaysNoOtherSiteAndCostsNoSessionItsAliveChecks) {
    ManualClock clock(DateTime(2024, 5, 1, 12, 0, 0));
    FastAliveChecks fast;
    RecorderSimConfig quiet;
    quiet.aliveIntervalMs = 0;  // the recorders only answer
    SimRecorder stalledRecorder(configFor(smallRecording(21)), quiet);
    SimRecorder otherRecorder(configFor(smallRecording(22)), quiet);
    const SyntheticRecording& stalledRecording = stalledRecorder.service.recording();
    const SyntheticRecording& otherRecording = otherRecorder.service.recording();
    StalledLog stalledLog(stalledRecording);
    FrameLog otherLog(otherRecording);
    NetworkPlaybackClient stalledClient;
    NetworkPlaybackClient otherClient;
    LoggedInClient stalled(stalledRecorder, stalledLog, stalledClient);
    LoggedInClient other(otherRecorder, otherLog, otherClient);
    ASSERT_TRUE(stalled.loggedIn && other.loggedIn);

    BitMask32 channels = BitMask32(0x3);
    ASSERT_TRUE(stalledClient.play(playAll(channels)));
    ASSERT_TRUE(stalledLog.gate.reached());
    ASSERT_TRUE(otherClient.play(playAll(channels)));
    EXPECT_TRUE(otherLog.waitStops(1)) << otherLog.describe();
    EXPECT_EQ(positionsOf(otherLog.read(otherLog.frames)), positionsFrom(otherRecording.cursorAtFirst(channels)));

    // Four minutes without a packet from the stalled site, which is not read meanwhile:
    // both are checked, the other answers, and neither is taken for dead.
    clock.advanceSeconds(121);
    EXPECT_TRUE(eventually([&] { return otherRecorder.sim.aliveRequestsReceived() >= 1; }));
    EXPECT_TRUE(eventually([&] { return stalledRecorder.sim.aliveRequestsReceived() >= 1; }));
    EXPECT_TRUE(eventually([&] { return !otherClient.isConnected() || !otherSessionAwaitsAnswer(other.handle); }));
    clock.advanceSeconds(130);
    uint64_t rounds = SessionAliveChecker::instance().rounds();
    EXPECT_TRUE(eventually([&] { return SessionAliveChecker::instance().rounds() >= rounds + 2; }));
    EXPECT_TRUE(stalledLog.read(stalledLog.disconnects).empty()) << stalledLog.describe();
    EXPECT_TRUE(otherLog.read(otherLog.disconnects).empty()) << otherLog.describe();

    // Once the disk is back, every frame of the stalled site arrives, in order and intact.
    stalledLog.gate.open();
    EXPECT_TRUE(stalledLog.waitStops(1)) << stalledLog.describe();
    EXPECT_EQ(positionsOf(stalledLog.read(stalledLog.frames)), positionsFrom(stalledRecording.cursorAtFirst(channels)));
    EXPECT_EQ(stalledLog.read(stalledLog.badPayloads), 0u);
}
