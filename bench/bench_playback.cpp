// bench_playback: frames and megabytes per second that the playback client delivers to a
// listener over loopback from an in-process simulated recorder, next to a plain TCP
// transfer of the same packets between two sockets of the same process. The recording has
// the frame sizes of real recorders (key frames up to 900 KiB). Shown for a client with a
// roomy media queue and, for information, for one with the smallest queue (what the
// archiving schedules ask for). The last line is "ratio: X", the roomy client's throughput
// over plain TCP's (higher is better).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "PlaybackService.h"
#include "RecorderSim.h"
#include "network/playback/MediaDispatcher.h"
#include "network/playback/NetworkPlaybackClient.h"
#include "network/playback/NetworkPlaybackContext.h"
#include "network/protocol/Packet.h"
#include "network/protocol/playback/PlaybackWire.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Throughput {
    uint64_t frames = 0;
    uint64_t bytes = 0;  // frame data delivered
    double seconds = 0;
    double framesPerSecond() const { return seconds > 0 ? frames / seconds : 0; }
    double megabytesPerSecond() const { return seconds > 0 ? bytes / seconds / 1e6 : 0; }
};

// Frame sizes as real recorders send them (the simulator's defaults): a key frame a second
// per channel of 100 KiB to 900 KiB, the frames in between a few KiB.
SyntheticRecordingOptions benchRecording() {
    SyntheticRecordingOptions options;
    options.seed = 42;
    options.videoChannels = 4;
    options.audioChannels = 1;
    options.framesPerSecond = 25;
    options.keyFrameInterval = 25;
    options.sliceCount = 1;
    options.sliceSeconds = 360;
    options.clockBackSlice = -1;
    options.textInEverySeconds = 0;
    return options;
}

// Counts what reaches it; touches every payload once, as a consumer would.
class CountingListener : public IPlaybackClientListener {
public:
    void videoFrameReceived(int, bool, int, const MediaFrame& f, const MediaPosition&) override { count(f); }
    void audioFrameReceived(int, const MediaFrame& f, const MediaPosition&) override { count(f); }
    void connected(int) override { signal([&] { _connected = true; }); }
    void disconnected(int, int) override { signal([&] { _disconnected = true; }); }
    void playbackStopped(int, int) override { signal([&] { ++_stops; }); }

    void count(const MediaFrame& f) {
        ++frames;
        bytes += f.payloadSize();
        if (f.payloadSize() > 0) checksum += f.data[f.payloadSize() - 1];
    }
    bool waitConnected() { return wait([&] { return _connected; }); }
    bool waitDisconnected() { return wait([&] { return _disconnected; }); }
    // Waits for the next stop report.
    bool waitStopped() {
        int seen = 0;
        {
            std::lock_guard<std::mutex> guard(_mutex);
            seen = _waited++;
        }
        return wait([&] { return _stops > seen; });
    }
    void reset() {
        frames = 0;
        bytes = 0;
    }

    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> bytes{0};
    uint64_t checksum = 0;

private:
    template <typename F>
    void signal(F f) {
        {
            std::lock_guard<std::mutex> guard(_mutex);
            f();
        }
        _changed.notify_all();
    }
    template <typename P>
    bool wait(P p) {
        std::unique_lock<std::mutex> lock(_mutex);
        return _changed.wait_for(lock, std::chrono::seconds(60), p);
    }
    std::mutex _mutex;
    std::condition_variable _changed;
    bool _connected = false;
    bool _disconnected = false;
    int _stops = 0;
    int _waited = 0;
};

Throughput runPlaybackClient(NetworkPlaybackClient& client, CountingListener& listener, BitMask32 channels,
                             uint32_t firstSection) {
    // Positioned at the first section first, as an archiver starting from the first frame
    // does; the clock starts with the play request.
    PlayRequest jump;
    jump.mode = 3;
    jump.channels = channels;
    jump.param1 = firstSection;
    client.play(PlaybackClientRequest::playing(jump));
    listener.waitStopped();
    listener.reset();
    PlayRequest request;
    request.mode = 1;
    request.channels = channels;
    auto start = Clock::now();
    client.play(PlaybackClientRequest::playing(request));
    if (!listener.waitStopped()) {
        std::fprintf(stderr, "bench_playback: playback did not finish\n");
    }
    Throughput t;
    t.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    t.frames = listener.frames.load();
    t.bytes = listener.bytes.load();
    return t;
}

bool writeAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// The same packets, generated the same way, through one plain loopback TCP connection.
Throughput runPlainTcp(const SyntheticRecording& recording, BitMask32 channels) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    int sender = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(sender, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int receiver = ::accept(listener, nullptr, nullptr);
    ::close(listener);

    Throughput t;
    auto start = Clock::now();
    std::thread reading([&] {
        std::vector<uint8_t> buffer(262144);
        uint64_t sum = 0;
        for (;;) {
            ssize_t n = ::recv(receiver, buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            sum += buffer[static_cast<size_t>(n) - 1];
        }
        t.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        (void)sum;
    });
    FrameCursor cursor = recording.cursorAtFirst(channels);
    SyntheticFrame frame;
    Packet packet;
    while (cursor.next(frame)) {
        writePlaybackMessage(packet, frame.mediaFrameMessage());
        if (!writeAll(sender, packet.data(), static_cast<size_t>(packet.limit()))) break;
        ++t.frames;
        t.bytes += frame.payload.size();
    }
    ::shutdown(sender, SHUT_WR);
    reading.join();
    ::close(sender);
    ::close(receiver);
    return t;
}

void print(const char* name, const Throughput& t) {
    std::printf("%-16s %9.0f frames/s  %8.1f MB/s  (%llu frames, %.1f MB in %.2f s)\n", name, t.framesPerSecond(),
                t.megabytesPerSecond(), static_cast<unsigned long long>(t.frames), t.bytes / 1e6, t.seconds);
}

}  // namespace

int main() {
    PlaybackServiceConfig config;
    config.recording = benchRecording();
    PlaybackService service(config);
    RecorderSim sim(RecorderSimConfig{});
    sim.addHandlerFactory(service.factory());
    sim.start();
    const SyntheticRecording& recording = service.recording();
    BitMask32 channels = recording.channelMask();

    // The client with a roomy media queue, and one with the queue the archiving schedules
    // ask for (the client's minimum: one largest packet), where a large key frame often
    // waits for the one before it to be taken.
    CountingListener roomyListener;
    CountingListener archiverListener;
    NetworkPlaybackClient roomy;
    NetworkPlaybackClient archiver;
    roomy.attach(8 << 20, &roomyListener);
    archiver.attach(0x80000, &archiverListener);
    if (roomy.connect(sim.host(), sim.port(), "admin", "admin") == -1 || !roomyListener.waitConnected() ||
        archiver.connect(sim.host(), sim.port(), "admin", "admin") == -1 || !archiverListener.waitConnected()) {
        std::fprintf(stderr, "bench_playback: cannot log in to the simulated recorder\n");
        return 1;
    }
    std::printf("bench_playback: %d video + %d audio channels at %d fps, %d s of recording per run, "
                "key frames of %u to %u bytes, throughput (best of 3)\n",
                config.recording.videoChannels, config.recording.audioChannels, config.recording.framesPerSecond,
                config.recording.sliceSeconds, config.recording.minKeyFrameSize, config.recording.maxKeyFrameSize);
    int result = 0;
    Throughput ours;
    Throughput ourSmallQueue;
    Throughput plain;
    uint32_t section = recording.segments()[0].sectionID;
    for (int run = 0; run < 3; ++run) {
        Throughput a = runPlaybackClient(roomy, roomyListener, channels, section);
        Throughput s = runPlaybackClient(archiver, archiverListener, channels, section);
        Throughput b = runPlainTcp(recording, channels);
        for (const Throughput* t : {&a, &s}) {
            if (t->frames != b.frames || t->bytes != b.bytes) {
                std::fflush(stdout);
                std::fprintf(stderr, "bench_playback: delivered %llu frames, expected %llu\n",
                             static_cast<unsigned long long>(t->frames), static_cast<unsigned long long>(b.frames));
                result = 1;
            }
        }
        if (a.megabytesPerSecond() > ours.megabytesPerSecond()) ours = a;
        if (s.megabytesPerSecond() > ourSmallQueue.megabytesPerSecond()) ourSmallQueue = s;
        if (b.megabytesPerSecond() > plain.megabytesPerSecond()) plain = b;
    }
    print("playback client", ours);
    print("  1 MiB queue", ourSmallQueue);
    print("plain TCP", plain);
    double ratio = plain.megabytesPerSecond() > 0 ? ours.megabytesPerSecond() / plain.megabytesPerSecond() : 0;
    roomy.disconnect(true);
    archiver.disconnect(true);
    roomyListener.waitDisconnected();
    archiverListener.waitDisconnected();
    roomy.detach();
    archiver.detach();
    sim.stop();
    NetworkPlaybackContext::shutdown();
    MediaDispatcher::shutdown();
    std::printf("ratio: %.3f\n", ratio);
    return result;
}
