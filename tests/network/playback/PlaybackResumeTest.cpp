#include <gtest/gtest.h>

#include <atomic>

#include "PlaybackTestSupport.h"
#include "network/session/DisconnectReason.h"

// Resuming archiving positions playback at a stored recorder-side position with a pause;
// the first frame that arrives from there must carry the time stored with the position, or
// the recorder has overwritten that place meanwhile. Both outcomes must reach the listener,
// whatever the client did before.

namespace {

// The frames the listener got from index `from` on.
std::vector<DeliveredFrame> framesFrom(FrameLog& log, size_t from) {
    std::vector<DeliveredFrame> frames = log.read(log.frames);
    return std::vector<DeliveredFrame>(frames.begin() + static_cast<long>(std::min(from, frames.size())), frames.end());
}

}  // namespace

TEST(PlaybackResume, StoredPositionShowsItsFrameAfterTheClientsOwnStopAndAfterAReconnect) {
    SimRecorder recorder(configFor(smallRecording()));
    const SyntheticRecording& recording = recorder.service.recording();
    FrameLog log(recording);
    NetworkPlaybackClient client;
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn) << log.describe();

    // Archiving stops playback itself (from a frame callback, as on a failed write).
    BitMask32 channels(0x1);
    std::atomic<bool> stopped{false};
    log.onEachFrame = [&](size_t count) {
        if (count == 40 && !stopped.exchange(true)) client.stop();
    };
    ASSERT_TRUE(client.play(playAll(channels)));
    ASSERT_TRUE(log.waitStops(1)) << log.describe();
    log.onEachFrame = nullptr;
    std::vector<DeliveredFrame> played = log.read(log.frames);
    const DeliveredFrame stored = played[25];
    ASSERT_EQ(stored.mediaType, PlaybackLayout::MediaTypeVideo);

    size_t before = played.size();
    ASSERT_TRUE(client.pause(stored.position));
    ASSERT_TRUE(log.waitStops(2)) << log.describe();
    std::vector<DeliveredFrame> shown = framesFrom(log, before);
    ASSERT_EQ(shown.size(), 1u) << log.describe();
    EXPECT_EQ(shown[0].position, stored.position);
    EXPECT_TRUE(shown[0].time.equals(stored.time));
    EXPECT_EQ(log.read(log.stops)[1], SimStopReason::Paused);

    // The same after the connection was lost and made again.
    client.disconnect(true);
    ASSERT_TRUE(log.waitUntil([&] { return !log.disconnects.empty(); })) << log.describe();
    ASSERT_NE(client.connect(recorder.sim.host(), recorder.sim.port(), "admin", "admin"), -1);
    ASSERT_TRUE(log.waitUntil([&] { return log.connects == 2; })) << log.describe();
    before = log.read(log.frames).size();
    ASSERT_TRUE(client.pause(stored.position));
    ASSERT_TRUE(log.waitStops(3)) << log.describe();
    shown = framesFrom(log, before);
    ASSERT_EQ(shown.size(), 1u) << log.describe();
    EXPECT_EQ(shown[0].position, stored.position);
    EXPECT_TRUE(shown[0].time.equals(stored.time));

    // And playback goes on from there.
    ASSERT_TRUE(client.play(playAll(channels)));
    ASSERT_TRUE(log.waitStops(4)) << log.describe();
    std::vector<MediaPosition> expected = positionsFrom(*recording.cursorAtPosition(stored.position, channels));
    EXPECT_EQ(positionsOf(framesFrom(log, before + 1)), expected);
    EXPECT_EQ(log.read(log.badPayloads), 0u);
}

TEST(PlaybackResume, OverwrittenPositionShowsAFrameOfAnotherTime) {
    PlaybackServiceConfig config = configFor(smallRecording());
    config.positionsOverwritten = true;
    SimRecorder recorder(config);
    const SyntheticRecording& recording = recorder.service.recording();
    FrameLog log(recording);
    NetworkPlaybackClient client;
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn) << log.describe();

    BitMask32 channels(0x1);
    MediaPosition stored = positionsFrom(recording.cursorAtFirst(channels))[25];
    SyntheticFrame there;
    ASSERT_TRUE(recording.frameAt(stored, there));
    ASSERT_TRUE(client.pause(stored));
    ASSERT_TRUE(log.waitStops(1)) << log.describe();
    std::vector<DeliveredFrame> shown = log.read(log.frames);
    ASSERT_EQ(shown.size(), 1u) << log.describe();
    EXPECT_EQ(shown[0].position, stored);
    EXPECT_FALSE(shown[0].time.equals(there.header.time));  // what the resume check looks for
    EXPECT_EQ(log.read(log.stops)[0], SimStopReason::Paused);
}
