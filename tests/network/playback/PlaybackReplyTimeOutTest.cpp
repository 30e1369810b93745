#include <gtest/gtest.h>

#include <atomic>

#include "PlaybackTestSupport.h"
#include "base/Clock.h"
#include "network/playback/NetworkPlaybackContext.h"
#include "network/session/DisconnectReason.h"

// A recorder that keeps its connection alive but never answers a playback request must not
// hold its client for ever: after the reply time-out (120 s on the process clock) the
// connection ends with 312, on which the archiving schedules reconnect.

namespace {

class ReplyTimeOut : public ::testing::Test {
protected:
    void SetUp() override {
        NetworkPlaybackContext::Timings fast;
        fast.roundMs = 5;
        NetworkPlaybackContext::setTimings(fast);
    }
    void TearDown() override { NetworkPlaybackContext::setTimings(NetworkPlaybackContext::Timings()); }

    // Whether the watchdog has had a full look since the call.
    static bool watchdogLooked() {
        NetworkPlaybackContext& context = NetworkPlaybackContext::instance();
        uint64_t rounds = context.watchdogRounds();
        return eventually([&] { return context.watchdogRounds() >= rounds + 2; });
    }

    ManualClock _clock{DateTime(2024, 5, 1, 12, 0, 0)};
};

PlaybackServiceConfig unanswering(std::vector<uint16_t> types) {
    PlaybackServiceConfig config = configFor(smallRecording());
    config.unansweredRequests = std::move(types);
    return config;
}

}  // namespace

TEST_F(ReplyTimeOut, PlayRequestNeverAnsweredEndsTheConnectionWith312) {
    SimRecorder recorder(unanswering({PacketType::PlayRequest}));
    FrameLog log(recorder.service.recording());
    NetworkPlaybackClient client;
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn) << log.describe();

    ASSERT_TRUE(client.play(playAll(BitMask32(1))));
    _clock.advanceSeconds(119);
    ASSERT_TRUE(watchdogLooked());
    EXPECT_TRUE(log.read(log.disconnects).empty()) << log.describe();
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::WaitingForReply);
    _clock.advanceSeconds(2);
    ASSERT_TRUE(log.waitUntil([&] { return !log.disconnects.empty(); })) << log.describe();
    EXPECT_EQ(log.read(log.disconnects), std::vector<int>{DisconnectReason::NoAliveAnswer});
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Disconnected);
}

TEST_F(ReplyTimeOut, StopNeverAnsweredCountsFromTheStopItself) {
    SimRecorder recorder(unanswering({PacketType::PlayRequest, PacketType::PauseRequest}));
    FrameLog log(recorder.service.recording());
    NetworkPlaybackClient client;
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn) << log.describe();

    ASSERT_TRUE(client.play(playAll(BitMask32(1))));
    _clock.advanceSeconds(100);
    ASSERT_TRUE(client.stop());
    _clock.advanceSeconds(21);  // 121 s after the play, 21 s after the stop
    ASSERT_TRUE(watchdogLooked());
    EXPECT_TRUE(log.read(log.disconnects).empty()) << log.describe();
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::WaitingForStop);
    _clock.advanceSeconds(100);
    ASSERT_TRUE(log.waitUntil([&] { return !log.disconnects.empty(); })) << log.describe();
    EXPECT_EQ(log.read(log.disconnects), std::vector<int>{DisconnectReason::NoAliveAnswer});
}

TEST_F(ReplyTimeOut, StorageChangeNeverConfirmedEndsTheConnectionWith312) {
    SimRecorder recorder(unanswering({PacketType::StorageChange}));
    FrameLog log(recorder.service.recording());
    NetworkPlaybackClient client;
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn) << log.describe();

    ASSERT_TRUE(client.changeStorage("Internal Disk"));
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::StorageUnknown);
    _clock.advanceSeconds(121);
    ASSERT_TRUE(log.waitUntil([&] { return !log.disconnects.empty(); })) << log.describe();
    EXPECT_EQ(log.read(log.disconnects), std::vector<int>{DisconnectReason::NoAliveAnswer});
}

TEST_F(ReplyTimeOut, RequestMadeDuringAWatchdogLookCountsFromItsOwnTime) {
    SimRecorder recorder(unanswering({PacketType::PlayRequest}));
    FrameLog log(recorder.service.recording());
    NetworkPlaybackClient client;
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn) << log.describe();

    // In one look, after the watchdog has read the clock: a second later the client asks
    // for playback. Its wait began after the look's time, not 49 days before it.
    std::atomic<int> step{0};  // 0 not yet, 1 asking, 2 asked, 3 the request failed
    NetworkPlaybackContext& context = NetworkPlaybackContext::instance();
    context.setHookAfterClockRead([&] {
        int expected = 0;
        if (!step.compare_exchange_strong(expected, 1)) return;
        _clock.advanceSeconds(1);
        step = client.play(playAll(BitMask32(1))) ? 2 : 3;
    });
    bool looked = eventually([&] { return step >= 2; });
    context.setHookAfterClockRead({});
    ASSERT_TRUE(looked);
    ASSERT_EQ(step, 2);
    ASSERT_TRUE(watchdogLooked());
    // A round trip after the look: a connection the look had ended would not carry it.
    const SyntheticRecording& recording = recorder.service.recording();
    ASSERT_TRUE(client.requestRecordingTimeTable(recording.recordingInterval(), recording.channelMask()));
    ASSERT_TRUE(log.waitUntil([&] { return !log.timeTables.empty() || !log.disconnects.empty(); }))
        << log.describe();
    EXPECT_TRUE(log.read(log.disconnects).empty()) << log.describe();
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::WaitingForReply);

    // The wait is still bounded.
    _clock.advanceSeconds(121);
    ASSERT_TRUE(log.waitUntil([&] { return !log.disconnects.empty(); })) << log.describe();
    EXPECT_EQ(log.read(log.disconnects), std::vector<int>{DisconnectReason::NoAliveAnswer});
}

TEST_F(ReplyTimeOut, FinishedPlaybackLeavesNothingToTimeOut) {
    SimRecorder recorder(configFor(smallRecording()));
    FrameLog log(recorder.service.recording());
    NetworkPlaybackClient client;
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn) << log.describe();

    // Playing (the first frame answered the request) and stopped afterwards: no wait left.
    ASSERT_TRUE(client.play(playAll(BitMask32(1))));
    ASSERT_TRUE(log.waitStops(1)) << log.describe();
    _clock.advanceSeconds(500);
    ASSERT_TRUE(watchdogLooked());
    EXPECT_TRUE(log.read(log.disconnects).empty()) << log.describe();
    EXPECT_TRUE(client.isConnected());
}
