#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "network/playback/PlaybackClient.h"

namespace {

// What the listener heard, in order, as short words ("started 1", "video 3", "stopped 4",
// "callback 9").
class EventLog : public IPlaybackClientListener {
public:
    void videoFrameReceived(int, bool, int rate, const MediaFrame&, const MediaPosition&) override {
        add("video " + std::to_string(rate));
    }
    void audioFrameReceived(int, const MediaFrame&, const MediaPosition&) override { add("audio"); }
    void playStarted(int, int mode) override { add("started " + std::to_string(mode)); }
    void playbackStopped(int, int reason) override { add("stopped " + std::to_string(reason)); }
    void playbackCallback(int, int code, int) override { add("callback " + std::to_string(code)); }

    // Everything queued before this call has been delivered when it returns true.
    bool drain(PlaybackClient& client) {
        static int next = 100;
        int code = ++next;
        client.postCallback(code, 0);
        std::string word = "callback " + std::to_string(code);
        std::unique_lock<std::mutex> lock(_mutex);
        return _changed.wait_for(lock, std::chrono::seconds(20), [&] {
            return !_words.empty() && _words.back() == word;
        });
    }
    bool heardWord(const std::string& word) {
        std::lock_guard<std::mutex> guard(_mutex);
        for (const std::string& w : _words) {
            if (w == word) return true;
        }
        return false;
    }
    // The words heard so far, callbacks left out.
    std::vector<std::string> heard() {
        std::lock_guard<std::mutex> guard(_mutex);
        std::vector<std::string> words;
        for (const std::string& w : _words) {
            if (w.rfind("callback", 0) != 0) words.push_back(w);
        }
        return words;
    }

private:
    void add(std::string word) {
        {
            std::lock_guard<std::mutex> guard(_mutex);
            _words.push_back(std::move(word));
        }
        _changed.notify_all();
    }
    std::mutex _mutex;
    std::condition_variable _changed;
    std::vector<std::string> _words;
};

// A playback client whose requests are written down instead of sent; the test plays the
// recorder by raising the network-side events itself.
class ScriptedClient : public PlaybackClient {
public:
    explicit ScriptedClient(IPlaybackClientListener& listener) { attachListener(0, &listener); }
    ~ScriptedClient() override {
        closeListener();
        releaseListener();
    }
    using PlaybackClient::connectedEvent;
    using PlaybackClient::disconnectedEvent;
    using PlaybackClient::frameEvent;
    using PlaybackClient::storageChangingEvent;
    using PlaybackClient::storageKnownEvent;
    using PlaybackClient::stoppedEvent;

    // Raises a frame event for a video frame of `channel` at position (1, second, 0).
    void frame(int channel, uint32_t second) {
        static const uint8_t data[6] = {1, 2, 3, 4, 5, 6};
        MediaFrame f;
        f.mediaType = 0;
        f.channelMask = BitMask32(1u << channel);
        f.dataLength = sizeof data;
        f.data = data;
        f.time = DateTime(2009, 3, 1, 10, 0, static_cast<int>(second));
        frameEvent(f, false, MediaPosition{1, second, 0});
    }

    std::vector<std::string> sent;

protected:
    int playbackHandle() const override { return 77; }
    void transmitPlay(const PlayRequest& r) override {
        sent.push_back("play " + std::to_string(r.mode) + " channels " + std::to_string(r.channels.value()));
    }
    void transmitJumpToPosition(const MediaPosition& p, uint64_t) override {
        sent.push_back("jump to " + std::to_string(p.positionB));
    }
    void transmitJumpToMediaID(unsigned, uint64_t id, BitMask32) override {
        sent.push_back("jump to id " + std::to_string(id));
    }
    void transmitJumpNear(const MediaPosition& p, const DateTime&, int, BitMask32 mask) override {
        sent.push_back("jump near " + std::to_string(p.positionB) + " channels " + std::to_string(mask.value()));
    }
    void transmitPause(const MediaPosition& p) override { sent.push_back("pause at " + std::to_string(p.positionB)); }
};

PlaybackClientRequest playMode(uint32_t mode, uint32_t channels = 1) {
    PlayRequest r;
    r.mode = mode;
    r.channels = BitMask32(channels);
    r.param1 = 2;  // backwards
    r.param2 = 4;
    return PlaybackClientRequest::playing(r);
}

using Words = std::vector<std::string>;

TEST(PlaybackStateMachine, NewRequestWhilePlayingWaitsForTheStopReport) {
    EventLog log;
    ScriptedClient client(log);
    client.connectedEvent();
    client.play(playMode(1));
    client.frame(0, 5);
    ASSERT_TRUE(log.drain(client));
    client.play(playMode(6));
    EXPECT_EQ(client.sent, (Words{"play 1 channels 1", "pause at 5"}));
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::WaitingForStop);

    // Frames still on their way from the old request are not delivered.
    client.frame(0, 6);
    client.stoppedEvent(4);
    EXPECT_EQ(client.sent, (Words{"play 1 channels 1", "pause at 5", "play 6 channels 1"}));
    client.frame(0, 7);
    ASSERT_TRUE(log.drain(client));
    // The stop between the two requests is the client's own business: not reported.
    EXPECT_EQ(log.heard(), (Words{"started 1", "video -4", "started 6", "video 0"}));
}

TEST(PlaybackStateMachine, PlayAfterStopWhileWaitingForStopRestartsAfterTheReport) {
    EventLog log;
    ScriptedClient client(log);
    client.connectedEvent();
    client.play(playMode(1));
    client.frame(0, 5);
    ASSERT_TRUE(log.drain(client));
    client.stop();
    client.play(playMode(1, 3));
    EXPECT_EQ(client.sent.back(), "pause at 5");  // the last delivered position
    client.stoppedEvent(4);
    EXPECT_EQ(client.sent.back(), "play 1 channels 3");
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::WaitingForReply);

    // And stop after play while waiting: only the stop is left, and it is reported.
    client.play(playMode(1));
    client.play(playMode(1));
    client.stop();
    size_t sentBefore = client.sent.size();
    client.stoppedEvent(3);
    EXPECT_EQ(client.sent.size(), sentBefore);
    ASSERT_TRUE(log.drain(client));
    EXPECT_EQ(log.heard().back(), "stopped 10");  // reason 3 reaches listeners as 10
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Stopped);
}

TEST(PlaybackStateMachine, StopWhenStoppedIsAnsweredAtOnceAndRequestsAfterPlayingStopFirst) {
    EventLog log;
    ScriptedClient client(log);
    client.connectedEvent();
    client.stop();
    ASSERT_TRUE(log.drain(client));
    EXPECT_EQ(log.heard(), (Words{"stopped 1"}));

    // Playing ended by the recorder: the next request is preceded by a stop, and sent only
    // once that stop is reported (the report is not passed on).
    client.play(playMode(1));
    client.frame(0, 9);
    client.stoppedEvent(1);
    ASSERT_TRUE(log.drain(client));
    client.sent.clear();
    client.play(playMode(1));
    EXPECT_EQ(client.sent, (Words{"pause at 9"}));
    client.stoppedEvent(4);
    EXPECT_EQ(client.sent, (Words{"pause at 9", "play 1 channels 1"}));
    ASSERT_TRUE(log.drain(client));
    EXPECT_EQ(log.heard(), (Words{"stopped 1", "started 1", "video -4", "stopped 1"}));
}

TEST(PlaybackStateMachine, ChannelChangesFollowFromTheLastDeliveredFrame) {
    EventLog log;
    ScriptedClient client(log);
    client.connectedEvent();
    // Nothing followed yet: nothing to continue from.
    client.changeChannels(BitMask32(3));
    EXPECT_TRUE(client.sent.empty());

    client.connectedEvent();
    client.play(playMode(1, 2));
    client.frame(1, 12);
    ASSERT_TRUE(log.drain(client));
    client.stop();
    client.stoppedEvent(4);
    client.sent.clear();
    // Still watching channel 1: back to the very frame. Channel 1 dropped: the frame
    // nearest in time on the new channels.
    client.changeChannels(BitMask32(3));
    client.stoppedEvent(4);
    client.changeChannels(BitMask32(1));
    EXPECT_EQ(client.sent, (Words{"jump to 12", "jump near 12 channels 1"}));

    // While playing, the change waits for the stop and then replays with the new channels.
    client.connectedEvent();
    client.play(playMode(1, 2));
    client.frame(1, 13);
    client.changeChannels(BitMask32(6));
    client.stoppedEvent(4);
    EXPECT_EQ(client.sent.back(), "play 1 channels 6");
}

TEST(PlaybackStateMachine, DisconnectAndStorageChangeShutOutRequests) {
    EventLog log;
    ScriptedClient client(log);
    client.play(playMode(1));  // not logged in yet
    EXPECT_TRUE(client.sent.empty());

    client.connectedEvent();
    client.play(playMode(1));
    client.frame(0, 1);
    ASSERT_TRUE(log.drain(client));
    client.storageChangingEvent();
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::StorageUnknown);
    client.play(playMode(1));
    EXPECT_EQ(client.sent, (Words{"play 1 channels 1", "pause at 1"}));
    client.storageKnownEvent();
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Init);
    client.play(playMode(1));
    EXPECT_EQ(client.sent.back(), "play 1 channels 1");

    client.disconnectedEvent();
    client.storageChangingEvent();
    client.play(playMode(1));
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Disconnected);
    EXPECT_EQ(client.sent.size(), 3u);
}

// Holds the media dispatcher inside the first video frame until the test opens the gate,
// so that the test can act while records are still waiting in the queue.
class GatedLog : public EventLog {
public:
    void videoFrameReceived(int handle, bool flag, int rate, const MediaFrame& f, const MediaPosition& p) override {
        {
            std::unique_lock<std::mutex> lock(_gateMutex);
            _entered = true;
            _gateChanged.notify_all();
            _gateChanged.wait_for(lock, std::chrono::seconds(20), [&] { return _open; });
        }
        EventLog::videoFrameReceived(handle, flag, rate, f, p);
    }
    bool waitUntilHeld() {
        std::unique_lock<std::mutex> lock(_gateMutex);
        return _gateChanged.wait_for(lock, std::chrono::seconds(20), [&] { return _entered; });
    }
    void open() {
        std::lock_guard<std::mutex> guard(_gateMutex);
        _open = true;
        _gateChanged.notify_all();
    }

private:
    std::mutex _gateMutex;
    std::condition_variable _gateChanged;
    bool _entered = false;
    bool _open = false;
};

TEST(PlaybackStateMachine, StopDropsQueuedFramesButKeepsPostedCallbacks) {
    GatedLog log;
    ScriptedClient client(log);
    client.connectedEvent();
    client.play(playMode(1));
    client.frame(0, 5);
    ASSERT_TRUE(log.waitUntilHeld());
    client.frame(0, 6);
    client.postCallback(42, 0);  // an owner's flush, queued between two frames
    client.frame(0, 7);
    client.stop();
    log.open();
    ASSERT_TRUE(log.drain(client));
    client.stoppedEvent(4);
    ASSERT_TRUE(log.drain(client));
    // The frames queued before the stop are gone; the callback still ran, and in order.
    EXPECT_EQ(log.heard(), (Words{"started 1", "video -4", "stopped 4"}));
    EXPECT_TRUE(log.heardWord("callback 42"));
}

}  // namespace
