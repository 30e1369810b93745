#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "PlaybackTestSupport.h"
#include "network/playback/NetworkPlaybackContext.h"
#include "network/session/DisconnectReason.h"

namespace {

// A client that also keeps the text-in list parts, which the playback client itself drops.
class ListingClient : public NetworkPlaybackClient {
public:
    void textInEventListReceived(const TextInEventListResponse& list) override {
        {
            std::lock_guard<std::mutex> guard(mutex);
            textInLists.push_back(list);
        }
        changed.notify_all();
    }
    bool waitParts(size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return textInLists.size() >= count; });
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<TextInEventListResponse> textInLists;
};

PlaybackServiceConfig configFor(const SyntheticRecordingOptions& options) {
    PlaybackServiceConfig config;
    config.recording = options;
    return config;
}

// A client logged in to `recorder`, reporting to `log`.
struct Session {
    Session(SimRecorder& recorder, FrameLog& log, NetworkPlaybackClient& c) : client(c) {
        client.attach(1 << 20, &log);
        handle = client.connect(recorder.sim.host(), recorder.sim.port(), "admin", "admin");
        loggedIn = handle != -1 && log.waitConnected();
    }
    ~Session() {
        client.disconnect(true);
        client.detach();
    }
    NetworkPlaybackClient& client;
    int handle = -1;
    bool loggedIn = false;
};

TEST(PlaybackClientLists, TimeTableSectionsEventsAndTextInComeBackCompleteAndSorted) {
    PlaybackServiceConfig config = configFor(smallRecording());
    config.listPageSize = 7;  // several continue requests for each list
    SimRecorder recorder(config);
    const SyntheticRecording& recording = recorder.service.recording();
    FrameLog log(recording);
    ListingClient client;
    Session session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);

    BitMask32 channels = recording.videoChannelMask();
    Interval all = recording.recordingInterval();
    ASSERT_TRUE(client.requestRecordingTimeTable(all, channels));
    ASSERT_TRUE(client.requestSectionList(all, channels));
    ASSERT_TRUE(log.waitUntil([&] { return log.timeTables.size() == 1 && log.sectionLists.size() == 1; }));

    // The recorder lists slices in recording order, where the clock set back makes a later
    // section start earlier; the client hands them on sorted by time.
    std::vector<RecordedSlice> expected = recording.timeTable(all, channels);
    ASSERT_GE(expected.size(), 4u);
    ASSERT_FALSE(std::is_sorted(expected.begin(), expected.end()));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(log.read(log.timeTables)[0], expected);
    EXPECT_EQ(log.read(log.sectionLists)[0], recording.sectionList(all, channels));

    // Event list: every part but the last says more follows; the listener asks for it.
    log.onEventList = [&](const EventListResponse& part) {
        if (part.hasMore) client.continueEventList(0, false);
    };
    EventListRequest events;
    events.interval = all;
    events.channels = channels;
    ASSERT_TRUE(client.requestEventList(events));
    ASSERT_TRUE(log.waitUntil([&] { return !log.eventLists.empty() && !log.eventLists.back().hasMore; }));
    std::vector<PlaybackEvent> received;
    for (const EventListResponse& part : log.read(log.eventLists)) {
        received.insert(received.end(), part.events.begin(), part.events.end());
    }
    std::vector<PlaybackEvent> allEvents = recording.eventList(all, channels, 0, 100000).entries;
    ASSERT_GT(allEvents.size(), 2u * config.listPageSize);
    EXPECT_EQ(received, allEvents);

    // Text-in list, asked for part by part in the same way.
    ASSERT_TRUE(client.requestTextInEventList(all, {}, false, 0));
    std::vector<TextInListEntry> texts;
    for (size_t parts = 1;; ++parts) {
        ASSERT_TRUE(client.waitParts(parts));
        std::lock_guard<std::mutex> guard(client.mutex);
        const TextInEventListResponse& part = client.textInLists.back();
        texts.insert(texts.end(), part.entries.begin(), part.entries.end());
        if (!part.hasMore) break;
        client.continueTextInEventList(0, false);
    }
    std::vector<TextInListEntry> allTexts = recording.textInList(all, BitMask32(0xFFFFFFFFu), {}, 0, 100000).entries;
    ASSERT_GT(allTexts.size(), static_cast<size_t>(config.listPageSize));
    EXPECT_EQ(texts, allTexts);
}

TEST(PlaybackClientPlay, FromFirstFrameDeliversEveryFrameInOrderOnTheMediaThread) {
    SimRecorder recorder(configFor(smallRecording()));
    const SyntheticRecording& recording = recorder.service.recording();
    FrameLog log(recording);
    NetworkPlaybackClient client;
    Session session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);

    BitMask32 channels = recording.videoChannelMask();
    client.play(playAll(channels));
    ASSERT_TRUE(log.waitStops(1));

    std::vector<MediaPosition> expected = positionsFrom(recording.cursorAtFirst(channels));
    EXPECT_EQ(positionsOf(log.read(log.frames)), expected);
    EXPECT_EQ(log.read(log.badPayloads), 0u);
    EXPECT_FALSE(log.read(log.wrongThread));
    EXPECT_EQ(log.read(log.startedModes), std::vector<int>{1});
    EXPECT_EQ(log.read(log.stops), std::vector<int>{SimStopReason::EndOfPlayback});
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Stopped);
}

TEST(PlaybackClientPlay, FromASectionAndFromAStoredPositionStartsAtThatFrame) {
    SimRecorder recorder(configFor(smallRecording()));
    const SyntheticRecording& recording = recorder.service.recording();
    FrameLog log(recording);
    NetworkPlaybackClient client;
    Session session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);
    BitMask32 channels = BitMask32(0x2);  // the second video channel and nothing else

    // Positioned at the third section, then played to the end of the recording.
    uint32_t section = recording.segments()[2].sectionID;
    PlayRequest jump;
    jump.mode = 3;
    jump.channels = channels;
    jump.param1 = section;
    client.play(PlaybackClientRequest::playing(jump));
    ASSERT_TRUE(log.waitStops(1));
    EXPECT_EQ(log.read(log.stops)[0], SimStopReason::Paused);
    client.play(playAll(channels));
    ASSERT_TRUE(log.waitStops(2));
    std::vector<MediaPosition> fromSection = positionsFrom(*recording.cursorAtSection(section, channels));
    std::vector<DeliveredFrame> frames = log.read(log.frames);
    EXPECT_EQ(positionsOf(frames), fromSection);

    // A stored position in the middle of that playback: the pause positions the recorder
    // there (reported like any stop), and the next play starts with that very frame.
    MediaPosition stored = fromSection[fromSection.size() / 2];
    size_t before = frames.size();
    ASSERT_TRUE(client.pause(stored));
    ASSERT_TRUE(log.waitStops(3));
    EXPECT_EQ(log.read(log.stops)[2], SimStopReason::Paused);
    client.play(playAll(channels));
    ASSERT_TRUE(log.waitStops(4));
    frames = log.read(log.frames);
    std::vector<MediaPosition> resumed;
    for (size_t i = before; i < frames.size(); ++i) resumed.push_back(frames[i].position);
    EXPECT_EQ(resumed, positionsFrom(*recording.cursorAtPosition(stored, channels)));
    EXPECT_EQ(log.read(log.badPayloads), 0u);
    EXPECT_FALSE(log.read(log.wrongThread));
}

TEST(PlaybackClientPlay, StopAskedFromTheListenerEndsTheStreamWithoutLaterFrames) {
    // Long enough that the stream cannot end before the stop: the listener's pause fills
    // the media queue, which holds the network thread, which holds the recorder.
    SyntheticRecordingOptions options = smallRecording();
    options.sliceSeconds = 600;
    SimRecorder recorder(configFor(options));
    const SyntheticRecording& recording = recorder.service.recording();
    FrameLog log(recording);
    NetworkPlaybackClient client;
    Session session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);

    // The archiving code stops playback from inside a frame callback when a write fails;
    // that must not deadlock against a network thread waiting for room in the queue.
    std::atomic<bool> stopped{false};
    log.onEachFrame = [&](size_t count) {
        if (count == 200 && !stopped.exchange(true)) client.stop();
    };
    BitMask32 channels = recording.videoChannelMask();
    client.play(playAll(channels));
    ASSERT_TRUE(log.waitStops(1));
    std::vector<DeliveredFrame> frames = log.read(log.frames);
    EXPECT_EQ(log.read(log.stops)[0], SimStopReason::Paused);
    EXPECT_EQ(log.read(log.framesAtStop)[0], frames.size());
    ASSERT_GE(frames.size(), 200u);
    std::vector<MediaPosition> expected = positionsFrom(recording.cursorAtFirst(channels));
    ASSERT_LT(frames.size(), expected.size());
    expected.resize(frames.size());
    EXPECT_EQ(positionsOf(frames), expected);  // a gap-free prefix
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Stopped);

    // Nothing arrives after the stop report, however long the recording goes on.
    client.postCallback(5, 6);
    ASSERT_TRUE(log.waitUntil([&] { return !log.callbacks.empty(); }));
    EXPECT_EQ(log.read(log.frames).size(), frames.size());
}

TEST(PlaybackClientDisconnect, RecorderDroppingMidStreamIsReportedAfterTheFramesItSent) {
    PlaybackServiceConfig config = configFor(smallRecording());
    config.disconnectAfterFrames = 150;
    SimRecorder recorder(config);
    const SyntheticRecording& recording = recorder.service.recording();
    FrameLog log(recording);
    NetworkPlaybackClient client;
    Session session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);

    client.play(playAll(recording.videoChannelMask()));
    ASSERT_TRUE(log.waitUntil([&] { return !log.disconnects.empty(); }));
    int reason = log.read(log.disconnects)[0];
    EXPECT_NE(reason, DisconnectReason::ClosedByClient);
    EXPECT_NE(reason, 0);
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Disconnected);
    EXPECT_FALSE(client.isConnected());
    EXPECT_FALSE(client.requestSectionList(Interval(), BitMask32(1)));
    // What was delivered before the connection went is intact and in order.
    std::vector<DeliveredFrame> frames = log.read(log.frames);
    EXPECT_LE(frames.size(), 150u);
    std::vector<MediaPosition> expected = positionsFrom(recording.cursorAtFirst(recording.videoChannelMask()));
    expected.resize(frames.size());
    EXPECT_EQ(positionsOf(frames), expected);
    EXPECT_EQ(log.read(log.badPayloads), 0u);
}

TEST(PlaybackClientDisconnect, OwnDisconnectOfAStalledStreamIsReported301) {
    PlaybackServiceConfig config = configFor(smallRecording());
    config.stallAfterFrames = 40;
    SimRecorder recorder(config);
    FrameLog log(recorder.service.recording());
    NetworkPlaybackClient client;
    Session session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);

    client.play(playAll(recorder.service.recording().videoChannelMask()));
    ASSERT_TRUE(log.waitUntil([&] { return log.frames.size() == 40; }));
    client.disconnect(true);
    ASSERT_TRUE(log.waitUntil([&] { return !log.disconnects.empty(); }));
    EXPECT_EQ(log.read(log.disconnects), std::vector<int>{DisconnectReason::ClosedByClient});
    EXPECT_EQ(log.read(log.stops).size(), 0u);
}

TEST(PlaybackClientDisconnect, LateReportOfAnEarlierConnectionLeavesTheCurrentOneAlone) {
    SimRecorder recorder(configFor(smallRecording()));
    FrameLog log(recorder.service.recording());
    NetworkPlaybackClient client;
    Session session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);
    int earlier = session.handle;

    // Connect again before the earlier connection's end has been reported.
    int current = client.connect(recorder.sim.host(), recorder.sim.port(), "admin", "admin");
    ASSERT_NE(current, -1);
    ASSERT_TRUE(log.waitUntil([&] { return log.connects == 2; }));
    NetworkPlaybackContext& context = NetworkPlaybackContext::instance();
    context.disconnect(earlier, false);
    // The network thread ends the earlier connection before it can carry this round trip.
    const SyntheticRecording& recording = recorder.service.recording();
    ASSERT_TRUE(client.requestRecordingTimeTable(recording.recordingInterval(), recording.videoChannelMask()));
    ASSERT_TRUE(log.waitUntil([&] { return !log.timeTables.empty(); }));

    // The report of the earlier connection must not take the current one from the client.
    EXPECT_TRUE(log.read(log.disconnects).empty());
    EXPECT_TRUE(client.isConnected());
    client.disconnect(true);
    ASSERT_TRUE(log.waitUntil([&] { return !log.disconnects.empty(); }));
    EXPECT_EQ(log.read(log.disconnects), std::vector<int>{DisconnectReason::ClosedByClient});
    EXPECT_FALSE(context.isConnected(current));
}

TEST(PlaybackClientPlay, TwoClientsOfTwoRecordersDoNotMixTheirFrames) {
    SyntheticRecordingOptions first = smallRecording(11);
    SyntheticRecordingOptions second = smallRecording(12);
    second.videoChannels = 3;
    second.framesPerSecond = 4;
    SimRecorder recorderA(configFor(first));
    SimRecorder recorderB(configFor(second));
    FrameLog logA(recorderA.service.recording());
    FrameLog logB(recorderB.service.recording());
    NetworkPlaybackClient clientA;
    NetworkPlaybackClient clientB;
    Session sessionA(recorderA, logA, clientA);
    Session sessionB(recorderB, logB, clientB);
    ASSERT_TRUE(sessionA.loggedIn && sessionB.loggedIn);

    BitMask32 channelsA = recorderA.service.recording().videoChannelMask();
    BitMask32 channelsB = recorderB.service.recording().videoChannelMask();
    clientA.play(playAll(channelsA));
    clientB.play(playAll(channelsB));
    ASSERT_TRUE(logA.waitStops(1));
    ASSERT_TRUE(logB.waitStops(1));

    // Each payload is checked against its own recording; the seeds differ, so a frame of
    // the other recorder would fail.
    EXPECT_EQ(logA.read(logA.badPayloads), 0u);
    EXPECT_EQ(logB.read(logB.badPayloads), 0u);
    EXPECT_EQ(positionsOf(logA.read(logA.frames)), positionsFrom(recorderA.service.recording().cursorAtFirst(channelsA)));
    EXPECT_EQ(positionsOf(logB.read(logB.frames)), positionsFrom(recorderB.service.recording().cursorAtFirst(channelsB)));
}

}  // namespace

namespace {

// A client that keeps the storage lists, which the playback client itself drops.
class StorageClient : public NetworkPlaybackClient {
public:
    void storageListReceived(const StorageListResponse& list) override {
        {
            std::lock_guard<std::mutex> guard(mutex);
            lists.push_back(list);
        }
        changed.notify_all();
    }
    bool waitList() {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return !lists.empty(); });
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<StorageListResponse> lists;
};

TEST(PlaybackClientStorages, OnlyRecordersOfVersionOneTwoOrLaterAreAskedForStorages) {
    for (const char* version : {"1.1", "1.2", "2.0"}) {
        SCOPED_TRACE(version);
        PlaybackServiceConfig config;
        config.recording = smallRecording();
        config.recording.storages = {"Internal Disk", "eSATA"};
        RecorderSimConfig simConfig;
        simConfig.productVersion = version;
        SimRecorder recorder(config, simConfig);
        FrameLog log(recorder.service.recording());
        StorageClient client;
        client.attach(0, &log);
        ASSERT_NE(client.connect(recorder.sim.host(), recorder.sim.port(), "admin", "admin"), -1);
        ASSERT_TRUE(log.waitConnected());
        bool newer = std::string(version) != "1.1";
        EXPECT_EQ(client.requestStorageList(), newer);
        if (newer) {
            ASSERT_TRUE(client.waitList());
            std::lock_guard<std::mutex> guard(client.mutex);
            ASSERT_EQ(client.lists[0].storages.size(), 2u);
            EXPECT_EQ(client.lists[0].storages[1].name, "eSATA");
        }
        client.disconnect(true);
        ASSERT_TRUE(log.waitUntil([&] { return !log.disconnects.empty(); }));
        EXPECT_EQ(recorder.sim.packetsReceived(530), newer ? 1 : 0);
        client.detach();
    }
}

TEST(PlaybackClientStorages, PlaybackResumesOnceTheRecorderConfirmsAStorageChange) {
    SimRecorder recorder(configFor(smallRecording()));
    const SyntheticRecording& recording = recorder.service.recording();
    FrameLog log(recording);
    NetworkPlaybackClient client;
    Session session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);

    BitMask32 channels = recording.videoChannelMask();
    // The state in between (storage unknown) is not checked here: the recorder's answer may
    // already have moved it on. The scripted state-machine tests cover it.
    ASSERT_TRUE(client.changeStorage("Internal Disk"));
    // The recorder answers in order: once the section list is back, so is the change.
    ASSERT_TRUE(client.requestSectionList(recording.recordingInterval(), channels));
    ASSERT_TRUE(log.waitUntil([&] { return !log.sectionLists.empty(); }));
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Init);
    client.play(playAll(channels));
    ASSERT_TRUE(log.waitStops(1));
    EXPECT_EQ(positionsOf(log.read(log.frames)), positionsFrom(recording.cursorAtFirst(channels)));
}

}  // namespace
