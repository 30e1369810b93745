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
        return changed.wait_for(lock, std::chrono::seconds(WaitSeconds), [&] { return textInLists.size() >= count; });
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<TextInEventListResponse> textInLists;
};

TEST(PlaybackClientLists, TimeTableSectionsEventsAndTextInComeBackCompleteAndSorted) {
    PlaybackServiceConfig config = configFor(smallRecording());
    config.listPageSize = 7;  // several continue requests for each list
    SimRecorder recorder(config);
    const SyntheticRecording& recording = recorder.service.recording();
    FrameLog log(recording);
    ListingClient client;
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);

    BitMask32 channels = recording.channelMask();
    Interval all = recording.recordingInterval();
    ASSERT_TRUE(client.requestRecordingTimeTable(all, channels));
    ASSERT_TRUE(client.requestSectionList(all, channels));
    ASSERT_TRUE(log.waitUntil([&] { return log.timeTables.size() == 1 && log.sectionLists.size() == 1; })) << log.describe();

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
    ASSERT_TRUE(log.waitUntil([&] { return !log.eventLists.empty() && !log.eventLists.back().hasMore; })) << log.describe();
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
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);

    BitMask32 channels = recording.channelMask();
    client.play(playAll(channels));
    ASSERT_TRUE(log.waitStops(1)) << log.describe();

    std::vector<MediaPosition> expected = positionsFrom(recording.cursorAtFirst(channels));
    EXPECT_EQ(positionsOf(log.read(log.frames)), expected);
    // Byte for byte, key frames far beyond the dispatcher's initial work buffer included.
    EXPECT_EQ(log.read(log.badPayloads), 0u);
    EXPECT_GT(log.read(log.largestPayload), uint64_t{MediaDispatcher::WorkBufferSize});
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
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);
    BitMask32 channels = BitMask32(0x2);  // the second video channel and nothing else

    // Positioned at the third section: the recorder shows the frame found there and
    // reports the stop; the play that follows starts with that frame.
    uint32_t section = recording.segments()[2].sectionID;
    PlayRequest jump;
    jump.mode = 3;
    jump.channels = channels;
    jump.param1 = section;
    ASSERT_TRUE(client.play(PlaybackClientRequest::playing(jump)));
    ASSERT_TRUE(log.waitStops(1)) << log.describe();
    EXPECT_EQ(log.read(log.stops)[0], SimStopReason::Paused);
    ASSERT_TRUE(client.play(playAll(channels)));
    ASSERT_TRUE(log.waitStops(2)) << log.describe();
    std::vector<MediaPosition> fromSection = positionsFrom(*recording.cursorAtSection(section, channels));
    std::vector<MediaPosition> expected = {fromSection[0]};
    expected.insert(expected.end(), fromSection.begin(), fromSection.end());
    std::vector<DeliveredFrame> frames = log.read(log.frames);
    EXPECT_EQ(positionsOf(frames), expected);

    // A stored position in the middle of that playback: the pause positions the recorder
    // there (the frame there, then the stop), and the next play starts with that frame.
    MediaPosition stored = fromSection[fromSection.size() / 2];
    size_t before = frames.size();
    ASSERT_TRUE(client.pause(stored));
    ASSERT_TRUE(log.waitStops(3)) << log.describe();
    EXPECT_EQ(log.read(log.stops)[2], SimStopReason::Paused);
    ASSERT_TRUE(client.play(playAll(channels)));
    ASSERT_TRUE(log.waitStops(4)) << log.describe();
    frames = log.read(log.frames);
    std::vector<MediaPosition> resumed;
    for (size_t i = before; i < frames.size(); ++i) resumed.push_back(frames[i].position);
    expected = {stored};
    std::vector<MediaPosition> fromStored = positionsFrom(*recording.cursorAtPosition(stored, channels));
    expected.insert(expected.end(), fromStored.begin(), fromStored.end());
    EXPECT_EQ(resumed, expected);
    EXPECT_EQ(log.read(log.badPayloads), 0u);
    EXPECT_FALSE(log.read(log.wrongThread));
}

TEST(PlaybackClientPlay, StopAskedFromTheListenerEndsTheStreamWithoutLaterFrames) {
    // Long enough that the stream cannot end before the stop: once the media queue is
    // full, nothing more is read from the connection, which holds the recorder back.
    SyntheticRecordingOptions options = smallRecording();
    options.sliceSeconds = 600;
    SimRecorder recorder(configFor(options));
    const SyntheticRecording& recording = recorder.service.recording();
    FrameLog log(recording);
    NetworkPlaybackClient client;
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);

    // The archiving code stops playback from inside a frame callback when a write fails;
    // that must not deadlock against a network thread waiting for room in the queue.
    std::atomic<bool> stopped{false};
    log.onEachFrame = [&](size_t count) {
        if (count == 200 && !stopped.exchange(true)) client.stop();
    };
    BitMask32 channels = recording.channelMask();
    client.play(playAll(channels));
    ASSERT_TRUE(log.waitStops(1)) << log.describe();
    std::vector<DeliveredFrame> frames = log.read(log.frames);
    EXPECT_EQ(log.read(log.stops)[0], SimStopReason::Paused);
    EXPECT_EQ(log.read(log.framesAtStop)[0], frames.size());
    ASSERT_GE(frames.size(), 200u);
    std::vector<MediaPosition> expected = positionsFrom(recording.cursorAtFirst(channels), frames.size() + 1);
    ASSERT_LT(frames.size(), expected.size());
    expected.resize(frames.size());
    EXPECT_EQ(positionsOf(frames), expected);  // a gap-free prefix
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Stopped);

    // Nothing arrives after the stop report, however long the recording goes on.
    client.postCallback(5, 6);
    ASSERT_TRUE(log.waitUntil([&] { return !log.callbacks.empty(); })) << log.describe();
    EXPECT_EQ(log.read(log.frames).size(), frames.size());
}

TEST(PlaybackClientDisconnect, RecorderDroppingMidStreamIsReportedAfterTheFramesItSent) {
    PlaybackServiceConfig config = configFor(smallRecording());
    config.disconnectAfterFrames = 150;
    SimRecorder recorder(config);
    const SyntheticRecording& recording = recorder.service.recording();
    FrameLog log(recording);
    NetworkPlaybackClient client;
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);

    client.play(playAll(recording.channelMask()));
    ASSERT_TRUE(log.waitUntil([&] { return !log.disconnects.empty(); })) << log.describe();
    int reason = log.read(log.disconnects)[0];
    EXPECT_NE(reason, DisconnectReason::ClosedByClient);
    EXPECT_NE(reason, 0);
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Disconnected);
    EXPECT_FALSE(client.isConnected());
    EXPECT_FALSE(client.requestSectionList(Interval(), BitMask32(1)));
    // What was delivered before the connection went is intact and in order.
    std::vector<DeliveredFrame> frames = log.read(log.frames);
    EXPECT_LE(frames.size(), 150u);
    std::vector<MediaPosition> expected =
        positionsFrom(recording.cursorAtFirst(recording.channelMask()), frames.size());
    EXPECT_EQ(positionsOf(frames), expected);
    EXPECT_EQ(log.read(log.badPayloads), 0u);
}

TEST(PlaybackClientDisconnect, OwnDisconnectOfAStalledStreamIsReported301) {
    PlaybackServiceConfig config = configFor(smallRecording());
    config.stallAfterFrames = 40;
    SimRecorder recorder(config);
    FrameLog log(recorder.service.recording());
    NetworkPlaybackClient client;
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);

    client.play(playAll(recorder.service.recording().channelMask()));
    ASSERT_TRUE(log.waitUntil([&] { return log.frames.size() == 40; })) << log.describe();
    client.disconnect(true);
    ASSERT_TRUE(log.waitUntil([&] { return !log.disconnects.empty(); })) << log.describe();
    EXPECT_EQ(log.read(log.disconnects), std::vector<int>{DisconnectReason::ClosedByClient});
    EXPECT_EQ(log.read(log.stops).size(), 0u);
}

TEST(PlaybackClientDisconnect, LateReportOfAnEarlierConnectionLeavesTheCurrentOneAlone) {
    SimRecorder recorder(configFor(smallRecording()));
    FrameLog log(recorder.service.recording());
    NetworkPlaybackClient client;
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);
    int earlier = session.handle;

    // Connect again before the earlier connection's end has been reported.
    int current = client.connect(recorder.sim.host(), recorder.sim.port(), "admin", "admin");
    ASSERT_NE(current, -1);
    ASSERT_TRUE(log.waitUntil([&] { return log.connects == 2; })) << log.describe();
    NetworkPlaybackContext& context = NetworkPlaybackContext::instance();
    context.disconnect(earlier, false);
    // The network thread ends the earlier connection before it can carry this round trip.
    const SyntheticRecording& recording = recorder.service.recording();
    ASSERT_TRUE(client.requestRecordingTimeTable(recording.recordingInterval(), recording.channelMask()));
    ASSERT_TRUE(log.waitUntil([&] { return !log.timeTables.empty(); })) << log.describe();

    // The report of the earlier connection must not take the current one from the client.
    EXPECT_TRUE(log.read(log.disconnects).empty());
    EXPECT_TRUE(client.isConnected());
    client.disconnect(true);
    ASSERT_TRUE(log.waitUntil([&] { return !log.disconnects.empty(); })) << log.describe();
    EXPECT_EQ(log.read(log.disconnects), std::vector<int>{DisconnectReason::ClosedByClient});
    EXPECT_FALSE(context.isConnected(current));
}

TEST(PlaybackClientPlay, TwoClientsOfTwoRecordersDoNotMixTheirFrames) {
    SyntheticRecordingOptions first = smallRecording(11);
    SyntheticRecordingOptions second = smallRecording(12);
    second.videoChannels = 3;
    second.framesPerSecond = 4;
    // Mixing needs no large frames, only both streams at once.
    for (SyntheticRecordingOptions* options : {&first, &second}) {
        options->minKeyFrameSize = 16 * 1024;
        options->maxKeyFrameSize = 64 * 1024;
    }
    SimRecorder recorderA(configFor(first));
    SimRecorder recorderB(configFor(second));
    FrameLog logA(recorderA.service.recording());
    FrameLog logB(recorderB.service.recording());
    NetworkPlaybackClient clientA;
    NetworkPlaybackClient clientB;
    LoggedInClient sessionA(recorderA, logA, clientA);
    LoggedInClient sessionB(recorderB, logB, clientB);
    ASSERT_TRUE(sessionA.loggedIn && sessionB.loggedIn);

    BitMask32 channelsA = recorderA.service.recording().channelMask();
    BitMask32 channelsB = recorderB.service.recording().channelMask();
    clientA.play(playAll(channelsA));
    clientB.play(playAll(channelsB));
    ASSERT_TRUE(logA.waitStops(1)) << logA.describe();
    ASSERT_TRUE(logB.waitStops(1)) << logB.describe();

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
        return changed.wait_for(lock, std::chrono::seconds(WaitSeconds), [&] { return !lists.empty(); });
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<StorageListResponse> lists;
};

TEST(PlaybackClientStorages, OnlyRecordersOfVersionOneTwoOrLaterAreAskedForStoragesOrToChangeOne) {
    for (const char* version : {"0.9", "1.1", "1.2", "1.10", "2.0"}) {
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
        ASSERT_TRUE(log.waitConnected()) << log.describe();
        bool newer = std::string(version) != "0.9" && std::string(version) != "1.1";
        EXPECT_EQ(client.requestStorageList(), newer);
        if (newer) {
            ASSERT_TRUE(client.waitList());
            std::lock_guard<std::mutex> guard(client.mutex);
            ASSERT_EQ(client.lists[0].storages.size(), 2u);
            EXPECT_EQ(client.lists[0].storages[1].name, "eSATA");
        }
        // An older recorder would never confirm a change, leaving the client waiting.
        EXPECT_EQ(client.changeStorage("eSATA"), newer);
        if (newer) {
            EXPECT_TRUE(eventually([&] { return client.stateId() == IPlaybackStateMachineContext::Init; }));
        } else {
            EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Stopped);
        }
        client.disconnect(true);
        ASSERT_TRUE(log.waitUntil([&] { return !log.disconnects.empty(); })) << log.describe();
        EXPECT_EQ(recorder.sim.packetsReceived(PacketType::StorageList), newer ? 1 : 0);
        EXPECT_EQ(recorder.sim.packetsReceived(PacketType::StorageChange), newer ? 1 : 0);
        client.detach();
    }
}

TEST(PlaybackClientStorages, PlaybackResumesOnceTheRecorderConfirmsAStorageChange) {
    SimRecorder recorder(configFor(smallRecording()));
    const SyntheticRecording& recording = recorder.service.recording();
    FrameLog log(recording);
    NetworkPlaybackClient client;
    LoggedInClient session(recorder, log, client);
    ASSERT_TRUE(session.loggedIn);

    BitMask32 channels = recording.channelMask();
    // The state in between (storage unknown) is not checked here: the recorder's answer may
    // already have moved it on. The scripted state-machine tests cover it.
    ASSERT_TRUE(client.changeStorage("Internal Disk"));
    // The recorder answers in order: once the section list is back, so is the change.
    ASSERT_TRUE(client.requestSectionList(recording.recordingInterval(), channels));
    ASSERT_TRUE(log.waitUntil([&] { return !log.sectionLists.empty(); })) << log.describe();
    EXPECT_EQ(client.stateId(), IPlaybackStateMachineContext::Init);
    client.play(playAll(channels));
    ASSERT_TRUE(log.waitStops(1)) << log.describe();
    EXPECT_EQ(positionsOf(log.read(log.frames)), positionsFrom(recording.cursorAtFirst(channels)));
}

}  // namespace
