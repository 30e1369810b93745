#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <thread>
#include <mutex>
#include <string>
#include <vector>

#include "DeliveryHold.h"
#include "base/Exception.h"
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
        return _changed.wait_for(lock, std::chrono::seconds(10), [&] {
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

    // Raises a frame event for a video frame of `channel` at position (1, second, 0) with
    // `size` bytes of data.
    void frame(int channel, uint32_t second, size_t size = 6) {
        std::vector<uint8_t> data(size, static_cast<uint8_t>(second));
        MediaFrame f;
        f.mediaType = 0;
        f.channelMask = BitMask32(1u << channel);
        f.dataLength = static_cast<uint32_t>(size);
        f.data = data.data();
        f.time = DateTime(2009, 3, 1, 10, 0, static_cast<int>(second));
        frameEvent(f, false, MediaPosition{1, second, 0});
    }

    std::vector<std::string> sent;
    // While set, every transmit fails as on a full send queue.
    bool failing = false;
    // Runs when a frame finds the queue full and is put aside.
    std::function<void()> onHold;
    int holds = 0;
    int releases = 0;
    using PlaybackClient::mediaQueue;

protected:
    int playbackHandle() const override { return 77; }
    void transmitPlay(const PlayRequest& r) override {
        note("play " + std::to_string(r.mode) + " channels " + std::to_string(r.channels.value()));
    }
    void transmitJumpToPosition(const MediaPosition& p, uint64_t) override {
        note("jump to " + std::to_string(p.positionB));
    }
    void transmitJumpToMediaID(unsigned, uint64_t id, BitMask32) override {
        note("jump to id " + std::to_string(id));
    }
    void transmitJumpNear(const MediaPosition& p, const DateTime&, int, BitMask32 mask) override {
        note("jump near " + std::to_string(p.positionB) + " channels " + std::to_string(mask.value()));
    }
    void transmitPause(const MediaPosition& p) override { note("pause at " + std::to_string(p.positionB)); }
    void holdSource() override {
        ++holds;
        if (onHold) onHold();
    }
    void releaseSource() override { ++releases; }

private:
    void note(const std::string& request) {
        if (failing) {
            throw Exception("Exception", QF_HERE, 0, "Send queue overflow.");
        }
        sent.push_back(request);
    }
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

// Holds the media dispatcher inside a video frame (the listener has it) until the test
// opens the gate.
class GatedLog : public EventLog {
public:
    void videoFrameReceived(int handle, bool flag, int rate, const MediaFrame& f, const MediaPosition& p) override {
        inside = true;
        gate.pass();
        EventLog::videoFrameReceived(handle, flag, rate, f, p);
        inside = false;
    }
    Gate gate;
    std::atomic<bool> inside{false};
};

TEST(PlaybackStateMachine, StopDropsQueuedFramesButKeepsPostedCallbacks) {
    EventLog log;
    ScriptedClient client(log);
    client.connectedEvent();
    client.play(playMode(1));
    client.frame(0, 5);
    ASSERT_TRUE(log.drain(client));
    DeliveryHold hold(client, 1);
    client.frame(0, 6);
    ASSERT_TRUE(hold.reached());  // taken from the queue, not yet delivered
    client.frame(0, 7);
    client.postCallback(42, 0);  // an owner's flush, queued between two frames
    client.frame(0, 8);
    EXPECT_TRUE(client.stop());
    hold.release();
    ASSERT_TRUE(log.drain(client));
    client.stoppedEvent(4);
    ASSERT_TRUE(log.drain(client));
    // Neither the frame already taken nor those still queued reach the listener after the
    // stop; the callback still runs.
    EXPECT_EQ(log.heard(), (Words{"started 1", "video -4", "stopped 4"}));
    EXPECT_TRUE(log.heardWord("callback 42"));
}

TEST(PlaybackStateMachine, FrameTakenBeforeAStopStaysUndeliveredWhenTheNextRequestStarts) {
    EventLog log;
    ScriptedClient client(log);
    client.connectedEvent();
    client.play(playMode(1));
    DeliveryHold hold(client, 1);
    client.frame(0, 5);
    ASSERT_TRUE(hold.reached());
    // Stopped, stop reported and played again while that frame waits to be delivered: it
    // belongs to the stream that was stopped, whatever has started since.
    ASSERT_TRUE(client.stop());
    client.stoppedEvent(4);
    ASSERT_TRUE(client.play(playMode(6)));
    hold.release();
    client.frame(0, 9);
    ASSERT_TRUE(log.drain(client));
    EXPECT_FALSE(log.heardWord("video -4"));
    // The stop reported before the new request is still heard; so is the new stream.
    EXPECT_TRUE(log.heardWord("stopped 4"));
    EXPECT_TRUE(log.heardWord("video 0"));
}

TEST(PlaybackStateMachine, StopReturnsOnlyOnceTheFrameInTheListenersHandsIsDone) {
    GatedLog log;
    ScriptedClient client(log);
    client.connectedEvent();
    client.play(playMode(1));
    client.frame(0, 5);
    ASSERT_TRUE(log.gate.reached());
    std::atomic<bool> insideWhenStopReturned{true};
    std::thread owner([&] {
        client.stop();
        insideWhenStopReturned = log.inside.load();
    });
    // The stop has been decided; its caller must now wait for the listener.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (client.stateId() != IPlaybackStateMachineContext::WaitingForStop &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    log.gate.open();
    owner.join();
    EXPECT_FALSE(insideWhenStopReturned);
}

TEST(PlaybackStateMachine, RequestThatCannotBeSentLeavesTheStateAsItWasAndSaysSo) {
    EventLog log;
    ScriptedClient client(log);
    EXPECT_FALSE(client.play(playMode(1)));  // not connected
    client.connectedEvent();

    // Nothing followed yet: a channel change has nowhere to continue from.
    EXPECT_FALSE(client.changeChannels(BitMask32(3)));
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Stopped);

    client.failing = true;
    EXPECT_FALSE(client.play(playMode(1)));
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Stopped);
    EXPECT_FALSE(client.stop());  // not even the stop report of a stopped client
    client.failing = false;
    ASSERT_TRUE(client.play(playMode(1)));
    client.frame(0, 5);

    // A stop that cannot be sent leaves playback going, frames and all.
    client.failing = true;
    EXPECT_FALSE(client.stop());
    EXPECT_FALSE(client.changeChannels(BitMask32(2)));
    EXPECT_FALSE(client.storageChangingEvent());
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Playing);
    client.frame(0, 6);
    ASSERT_TRUE(log.drain(client));
    EXPECT_EQ(log.heard(), (Words{"started 1", "video -4", "video -4"}));

    // A request waiting for a stop report that cannot be sent when the report comes: the
    // owner hears the stop instead of waiting for a start that never comes.
    client.failing = false;
    ASSERT_TRUE(client.play(playMode(6)));
    client.failing = true;
    client.stoppedEvent(4);
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Stopped);
    ASSERT_TRUE(log.drain(client));
    EXPECT_EQ(log.heard().back(), "stopped 4");
}

TEST(PlaybackStateMachine, FrameFindingTheQueueFullIsDeliveredInTurnWithoutTheProducerWaiting) {
    EventLog log;
    ScriptedClient client(log);
    client.connectedEvent();
    client.play(playMode(1));
    constexpr size_t Large = 400000;  // three fill the queue (a little over 1 MiB)
    DeliveryHold hold(client, 1);
    client.frame(0, 1, Large);
    ASSERT_TRUE(hold.reached());
    client.frame(0, 2, Large);
    client.frame(0, 3, Large);
    // The fourth does not fit. While it is being put aside the dispatcher takes every
    // record left, so the room it needs appears before anyone knows it waits: it must
    // still go in (and the producer is let go again).
    client.onHold = [&] {
        hold.release();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (client.mediaQueue()->count() > 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
    };
    client.frame(0, 4, Large);
    client.onHold = nullptr;
    EXPECT_EQ(client.holds, 1);
    EXPECT_EQ(client.releases, 1);
    ASSERT_TRUE(log.drain(client));
    EXPECT_EQ(log.heard(), (Words{"started 1", "video -4", "video -4", "video -4", "video -4"}));
}

}  // namespace
