#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "PlaybackService.h"
#include "RecorderSim.h"
#include "base/thread/Thread.h"
#include "network/playback/IPlaybackClientListener.h"
#include "network/playback/MediaDispatcher.h"
#include "network/playback/NetworkPlaybackClient.h"
#include "network/protocol/SessionAliveChecker.h"

// A small recording: two video channels and one audio channel at 5 frames per second, in
// three slices of 20 seconds with the clock set back once, events and text-in entries.
// Frame sizes are the simulator's realistic ones: a key frame every two seconds of 100 KiB
// to 900 KiB, the frames in between a few KiB.
inline SyntheticRecordingOptions smallRecording(uint64_t seed = 7) {
    SyntheticRecordingOptions options;
    options.seed = seed;
    options.videoChannels = 2;
    options.audioChannels = 1;
    options.framesPerSecond = 5;
    options.keyFrameInterval = 10;
    options.sliceCount = 3;
    options.sliceSeconds = 20;
    options.gapSeconds = 10;
    options.clockBackSlice = 1;
    options.clockBackAfterSeconds = 10;
    options.clockBackSeconds = 30;
    options.eventEverySeconds = 3;
    options.textInEverySeconds = 4;
    return options;
}

// A simulated recorder with the playback service, listening on a free loopback port.
class SimRecorder {
public:
    explicit SimRecorder(PlaybackServiceConfig config, RecorderSimConfig simConfig = {})
        : service(std::move(config)), sim(std::move(simConfig)) {
        sim.addHandlerFactory(service.factory());
        sim.start();
    }
    ~SimRecorder() { sim.stop(); }

    PlaybackService service;
    RecorderSim sim;
};

// One frame as the listener saw it.
struct DeliveredFrame {
    uint16_t mediaType = 0;
    MediaPosition position;
    DateTime time;
};

// How long a test waits for another thread before it gives up: long enough for a whole
// small recording to stream under ThreadSanitizer on a loaded two-core machine (which has
// taken over 13 s); a passing test waits only as long as the event takes.
constexpr int WaitSeconds = 20;

// Waits until `condition` holds, looking every few milliseconds: for conditions on things
// that notify nobody (a simulator's counters). False after the bound.
inline bool eventually(const std::function<bool()>& condition, int seconds = WaitSeconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Shortens the alive checker's rounds for one test (the periods themselves stay, on the
// process clock).
struct FastAliveChecks {
    FastAliveChecks() {
        SessionAliveChecker::Timings fast;
        fast.roundMs = 5;
        SessionAliveChecker::setTimings(fast);
    }
    ~FastAliveChecks() { SessionAliveChecker::setTimings(SessionAliveChecker::Timings()); }
};

// Records what a playback client reports. Frames are checked as they arrive (their data
// is valid only during the call): the payload against the recording, the thread against
// the media dispatcher's. Waits are bounded and answer false instead of hanging.
class FrameLog : public IPlaybackClientListener {
public:
    explicit FrameLog(const SyntheticRecording& recording) : _recording(recording) {}

    void videoFrameReceived(int, bool, int, const MediaFrame& frame, const MediaPosition& position) override {
        onFrame(frame.mediaType, _recording.verifyFrame(frame), position, frame.time, frame.payloadSize());
    }
    void audioFrameReceived(int, const MediaFrame& frame, const MediaPosition& position) override {
        onFrame(frame.mediaType, _recording.verifyFrame(frame), position, frame.time, frame.payloadSize());
    }
    void textInFrameReceived(int, const TextInFrame& frame, const MediaPosition& position) override {
        SyntheticFrame expected;
        bool same = _recording.frameAt(position, expected) && expected.isTextIn() &&
                    expected.textIn.time.equals(frame.time) && std::string(expected.textIn.text) == frame.text;
        onFrame(frame.mediaType, same, position, frame.time, 0);
    }
    void playbackStopped(int, int reason) override {
        note([&] {
            stops.push_back(reason);
            framesAtStop.push_back(frames.size());
            wrongThread |= !onMediaThread();
        });
    }
    void playStarted(int, int mode) override {
        note([&] { startedModes.push_back(mode); });
    }
    void connected(int) override {
        note([&] { ++connects; });
    }
    void disconnected(int, int reason) override {
        note([&] { disconnects.push_back(reason); });
    }
    void recordingTimeTableReceived(int, const std::vector<RecordedSlice>& slices) override {
        note([&] { timeTables.push_back(slices); });
    }
    void playbackRecordingSectionListReceived(int, BitMask32, const Interval&,
                                              const std::vector<uint32_t>& sections) override {
        note([&] { sectionLists.push_back(sections); });
    }
    void playbackEventListReceived(int, const EventListResponse& list) override {
        note([&] { eventLists.push_back(list); });
        if (onEventList) onEventList(list);
    }
    void playbackCallback(int, int code, int value) override {
        note([&] { callbacks.push_back({code, value, frames.size()}); });
    }

    bool waitUntil(const std::function<bool()>& condition, int seconds = WaitSeconds) {
        std::unique_lock<std::mutex> lock(mutex);
        return _changed.wait_for(lock, std::chrono::seconds(seconds), condition);
    }
    // What arrived so far, for failure messages.
    std::string describe() {
        std::lock_guard<std::mutex> guard(mutex);
        std::string text = std::to_string(frames.size()) + " frames, stops {";
        for (int reason : stops) text += " " + std::to_string(reason);
        text += " }, disconnects {";
        for (int reason : disconnects) text += " " + std::to_string(reason);
        return text + " }, " + std::to_string(connects) + " logins";
    }
    bool waitConnected() {
        return waitUntil([&] { return connects > 0 || !disconnects.empty(); }) && connects > 0;
    }
    bool waitStops(size_t count) {
        return waitUntil([&] { return stops.size() >= count; });
    }
    template <typename T>
    T read(const T& field) {
        std::lock_guard<std::mutex> guard(mutex);
        return field;
    }

    // Called on the media dispatcher thread after each frame was noted (not under the lock).
    std::function<void(size_t count)> onEachFrame;
    std::function<void(const EventListResponse&)> onEventList;

    std::mutex mutex;
    std::vector<DeliveredFrame> frames;
    size_t badPayloads = 0;
    uint64_t largestPayload = 0;
    bool wrongThread = false;
    std::vector<int> stops;
    std::vector<size_t> framesAtStop;
    std::vector<int> startedModes;
    int connects = 0;
    std::vector<int> disconnects;
    std::vector<std::vector<RecordedSlice>> timeTables;
    std::vector<std::vector<uint32_t>> sectionLists;
    std::vector<EventListResponse> eventLists;
    struct Callback {
        int code;
        int value;
        size_t framesBefore;
    };
    std::vector<Callback> callbacks;

private:
    static bool onMediaThread() { return MediaDispatcher::isDispatchThread(); }

    void onFrame(uint16_t mediaType, bool verified, const MediaPosition& position, const DateTime& time,
                 uint64_t payloadSize) {
        size_t count = 0;
        note([&] {
            frames.push_back({mediaType, position, time});
            badPayloads += verified ? 0 : 1;
            largestPayload = std::max(largestPayload, payloadSize);
            wrongThread |= !onMediaThread();
            count = frames.size();
        });
        if (onEachFrame) onEachFrame(count);
    }

    template <typename F>
    void note(F change) {
        {
            std::lock_guard<std::mutex> guard(mutex);
            change();
        }
        _changed.notify_all();
    }

    const SyntheticRecording& _recording;
    std::condition_variable _changed;
};

// The positions a playback starting at `cursor` must deliver, in order (the first `limit`
// of them).
inline std::vector<MediaPosition> positionsFrom(FrameCursor cursor, size_t limit = SIZE_MAX) {
    std::vector<MediaPosition> positions;
    SyntheticFrame frame;
    while (positions.size() < limit && cursor.next(frame)) {
        positions.push_back(frame.position);
    }
    return positions;
}

inline std::vector<MediaPosition> positionsOf(const std::vector<DeliveredFrame>& frames) {
    std::vector<MediaPosition> positions;
    for (const DeliveredFrame& frame : frames) {
        positions.push_back(frame.position);
    }
    return positions;
}

// A play request for the whole recording on `channels`, as fast as the recorder streams.
inline PlaybackClientRequest playAll(BitMask32 channels) {
    PlayRequest request;
    request.mode = 1;
    request.channels = channels;
    request.param1 = 1;
    request.param2 = 3;
    return PlaybackClientRequest::playing(request);
}

inline PlaybackServiceConfig configFor(const SyntheticRecordingOptions& options) {
    PlaybackServiceConfig config;
    config.recording = options;
    return config;
}

// A client logged in to `recorder`, reporting to `log`; disconnected and detached again
// when the test is done with it. The disconnect is awaited, so that the network thread is
// done with the connection (and with a test's clock) when the test ends.
struct LoggedInClient {
    LoggedInClient(SimRecorder& recorder, FrameLog& l, NetworkPlaybackClient& c) : log(l), client(c) {
        client.attach(1 << 20, &log);
        handle = client.connect(recorder.sim.host(), recorder.sim.port(), "admin", "admin");
        loggedIn = handle != -1 && log.waitConnected();
    }
    ~LoggedInClient() {
        size_t before = log.read(log.disconnects).size();
        if (client.handle.load() != -1) {
            client.disconnect(true);
            log.waitUntil([&] { return log.disconnects.size() > before; });
        }
        client.detach();
    }
    FrameLog& log;
    NetworkPlaybackClient& client;
    int handle = -1;
    bool loggedIn = false;
};
