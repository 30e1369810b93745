// bench_archive: a 16-channel recorder of about 4 Mbit/s archived end to end: the
// simulated recorder over loopback, the station's playback client, an archiving schedule
// and a storage group of two storage files on disk. Side by side in one run with
// (a) the same frames written by the Recorder into the same kind of group straight from
// memory (generated before the clock starts), and (b) plain TCP: the same frame packets
// received from a loopback socket into an O_DIRECT file in 512 KiB writes. Best of several
// rounds for each. Prints MiB/s, recorded seconds archived per wall second, the process's
// peak resident size, where the threads of the end-to-end run spent its wall time, and
// "ratio: X", the end-to-end throughput over (b).
//
// The default recording is one chunk as the scheduler cuts them (600 s of recorded time),
// so the start of a chunk (connect, login, lists, positioning, the schedule's 100 ms
// ticks) weighs as it does in a long archive; the end-to-end line also prints how long
// that start took before the first frame was archived.
//
// Usage: bench_archive [directory] [rounds] [recorded seconds]   (default: /tmp, 3, 600)

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PlaybackService.h"
#include "RecorderSim.h"
#include "app/archiving/ArchivingSchedule.h"
#include "app/archiving/ArchivingScheduler.h"
#include "app/group/StorageGroupContext.h"
#include "app/group/StorageGroupFile.h"
#include "network/protocol/Packet.h"
#include "network/protocol/playback/PlaybackWire.h"
#include "storage/MediaElement.h"
#include "storage/Recorder.h"
#include "storage/aio/AIOContext.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t WriteSize = 524288;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// CPU seconds the process has used so far (every thread, user and system).
double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

// Seconds each thread of the process (by name, threads of one name summed) spent on a CPU
// and runnable but waiting for one, from the kernel's scheduler statistics. The rest of a
// thread's wall time it was asleep: waiting for I/O, a barrier or work.
struct ThreadTimes {
    std::map<std::string, std::pair<double, double>> byName;

    static ThreadTimes now() {
        ThreadTimes t;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            std::ifstream comm(task.path() / "comm");
            std::ifstream stat(task.path() / "schedstat");
            std::string name;
            double running = 0, waiting = 0;
            if (std::getline(comm, name) && (stat >> running >> waiting)) {
                auto& entry = t.byName[name];
                entry.first += running / 1e9;
                entry.second += waiting / 1e9;
            }
        }
        return t;
    }
    // What the threads used since `before` (threads gone since are not counted).
    ThreadTimes since(const ThreadTimes& before) const {
        ThreadTimes d = *this;
        for (auto& [name, times] : d.byName) {
            auto earlier = before.byName.find(name);
            if (earlier != before.byName.end()) {
                times.first -= earlier->second.first;
                times.second -= earlier->second.second;
            }
        }
        return d;
    }
};

// What one run cost besides its wall time: CPU seconds of the process and storage barriers.
struct Cost {
    double cpu = 0;
    uint64_t barriers = 0;
    double firstFrame = 0;  // end to end only: seconds from the start until the first frame was archived
    ThreadTimes threads;    // end to end only
};

struct CostMeter {
    double cpu0 = cpuSeconds();
    uint64_t barriers0 = AIOContext::instance().barrierCount();
    Cost stop() const {
        Cost cost;
        cost.cpu = cpuSeconds() - cpu0;
        cost.barriers = AIOContext::instance().barrierCount() - barriers0;
        return cost;
    }
};

// 16 video channels at 25 fps, a key frame a second of 8 to 12 KB and 600 to 1000 bytes in
// between, one audio channel: about 3.8 Mbit/s.
SyntheticRecordingOptions recorderOf(int recordedSeconds) {
    SyntheticRecordingOptions o;
    o.seed = 99;
    o.videoChannels = 16;
    o.audioChannels = 1;
    o.framesPerSecond = 25;
    o.keyFrameInterval = 25;
    o.minFrameSize = 600;
    o.maxFrameSize = 1000;
    o.minKeyFrameSize = 8000;
    o.maxKeyFrameSize = 12000;
    o.audioFrameSize = 160;
    o.sliceCount = 1;
    o.sliceSeconds = recordedSeconds;
    o.clockBackSlice = -1;
    o.textInEverySeconds = 0;
    o.eventEverySeconds = 0;
    return o;
}

struct Frame {
    MediaElement element;
    std::vector<uint8_t> bytes;
};

// The recording's frames in order, each as the archiver turns it into an element.
std::vector<Frame> framesOf(const SyntheticRecording& recording, uint64_t& bytes) {
    std::vector<Frame> frames;
    FrameCursor cursor = recording.cursorAtFirst(BitMask32(0xFFFFFFFFu));
    SyntheticFrame f;
    bytes = 0;
    while (cursor.next(f)) {
        Frame frame;
        MediaElement& e = frame.element;
        const MediaFrame& h = f.header;
        e.setMediaType(h.mediaType);
        e.setSyncIndex(h.syncIndex);
        e.setSyncKeyID(h.syncKeyID);
        e.setChannelMask(h.channelMask);
        e.setLinkedChannelMask(h.linkedChannelMask);
        e.setTime(h.time);
        e.setParam64(h.param64);
        e.setDataLength(h.dataLength);
        e.setExtraLength(h.extraLength);
        frame.bytes = f.payload;
        bytes += 64 + frame.bytes.size();
        frames.push_back(std::move(frame));
    }
    for (Frame& frame : frames) frame.element.setPayload(frame.bytes.data());
    return frames;
}

// A fresh group of two storages of `storageBytes` each in `dir`.
std::string makeGroup(const std::string& dir, const UniqueID& repository, uint64_t storageBytes) {
    std::filesystem::create_directories(dir);
    std::string groupPath = dir + "/bench.strgx";
    StorageGroupFile file;
    file.create(groupPath, repository);
    file.load(groupPath);
    for (int i = 1; i <= 2; ++i) {
        std::string path = dir + "/bench " + std::to_string(i) + ".strg";
        StorageGroupContext::createStorageFile(path, storageBytes, repository);
        file.addStorageFile(path);
    }
    file.close();
    return groupPath;
}

long peakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// End to end: from the start command until the schedule has written the last frame.
Clock::duration runEndToEnd(const std::string& dir, RecorderSim& sim, uint64_t frameCount, uint64_t storageBytes,
                            Cost& cost) {
    UniqueID site;
    std::string groupPath = makeGroup(dir, site, storageBytes);
    ArchivingScheduler& scheduler = ArchivingScheduler::instance();
    scheduler.initialise(nullptr, 600);
    ConnectionSettings settings{sim.host(), sim.port(), "admin", "admin"};
    int key = scheduler.createSchedule(site, settings, false);
    if (!scheduler.context(key)->load(groupPath)) {
        std::fprintf(stderr, "bench_archive: cannot load the group\n");
        std::exit(1);
    }
    std::shared_ptr<ArchivingSchedule> schedule = scheduler.schedule(key);
    ThreadTimes threads0 = ThreadTimes::now();
    CostMeter meter;
    auto t0 = Clock::now();
    scheduler.start(key, true);
    auto deadline = t0 + std::chrono::seconds(600);
    Clock::time_point first{};
    while (schedule->archivedFrames() < frameCount && Clock::now() < deadline) {
        if (first == Clock::time_point{} && schedule->archivedFrames() > 0) {
            first = Clock::now();
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    auto t1 = Clock::now();
    cost = meter.stop();
    cost.threads = ThreadTimes::now().since(threads0);
    cost.firstFrame = seconds(first - t0);
    if (schedule->archivedFrames() < frameCount) {
        std::fprintf(stderr, "bench_archive: archived %llu of %llu frames\n",
                     static_cast<unsigned long long>(schedule->archivedFrames()),
                     static_cast<unsigned long long>(frameCount));
        std::exit(1);
    }
    scheduler.stop(key);
    scheduler.shutdown();
    std::filesystem::remove_all(dir);
    return t1 - t0;
}

// (a): the frames through the Recorder into the same kind of group, from memory.
Clock::duration runRecorder(const std::string& dir, std::vector<Frame>& frames, uint64_t storageBytes, Cost& cost) {
    UniqueID site;
    std::string groupPath = makeGroup(dir, site, storageBytes);
    StorageGroupContext context(site);
    if (!context.load(groupPath)) {
        std::fprintf(stderr, "bench_archive: cannot load the group\n");
        std::exit(1);
    }
    Recorder recorder;
    recorder.attach(&context.group(), 0, false);
    CostMeter meter;
    auto t0 = Clock::now();
    for (Frame& frame : frames) recorder.write(frame.element);
    auto t1 = Clock::now();
    cost = meter.stop();
    recorder.detach();
    context.group().closeGroup(true);
    context.unload();
    std::filesystem::remove_all(dir);
    return t1 - t0;
}

bool writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// (b): the frame packets over one loopback connection into an O_DIRECT file, from the
// first byte sent until the last is written and synced.
Clock::duration runPlainTcp(const std::string& dir, const SyntheticRecording& recording, uint64_t& received,
                            Cost& cost) {
    std::filesystem::create_directories(dir);
    std::string path = dir + "/plain.bin";
    int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_DIRECT | O_CLOEXEC, 0600);
    auto* block = static_cast<uint8_t*>(std::aligned_alloc(4096, WriteSize));
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
    if (file < 0 || block == nullptr || receiver < 0) {
        std::fprintf(stderr, "bench_archive: cannot set up the plain receiver\n");
        std::exit(1);
    }
    received = 0;
    Clock::time_point end;
    CostMeter meter;
    auto start = Clock::now();
    std::thread reading([&] {
        size_t filled = 0;
        off_t offset = 0;
        for (;;) {
            ssize_t n = ::recv(receiver, block + filled, WriteSize - filled, 0);
            if (n > 0) {
                filled += static_cast<size_t>(n);
                received += static_cast<uint64_t>(n);
            }
            if (filled == WriteSize || (n <= 0 && filled > 0)) {
                if (::pwrite(file, block, WriteSize, offset) != WriteSize) std::perror("pwrite");
                offset += WriteSize;
                filled = 0;
            }
            if (n <= 0) break;
        }
        ::fdatasync(file);
        end = Clock::now();
    });
    FrameCursor cursor = recording.cursorAtFirst(BitMask32(0xFFFFFFFFu));
    SyntheticFrame frame;
    Packet packet;
    // Sent 64 KiB at a time, as the simulator sends a playback.
    std::vector<uint8_t> batch;
    batch.reserve(2 * 65536);
    bool sending = true;
    while (sending && cursor.next(frame)) {
        writePlaybackMessage(packet, frame.mediaFrameMessage());
        batch.insert(batch.end(), packet.data(), packet.data() + packet.limit());
        if (batch.size() >= 65536) {
            sending = writeAll(sender, batch.data(), batch.size());
            batch.clear();
        }
    }
    if (sending && !batch.empty()) writeAll(sender, batch.data(), batch.size());
    ::shutdown(sender, SHUT_WR);
    reading.join();
    cost = meter.stop();
    cost.barriers = 1;
    ::close(sender);
    ::close(receiver);
    ::close(file);
    std::free(block);
    std::filesystem::remove_all(dir);
    return end - start;
}

}  // namespace

int main(int argc, char** argv) {
    std::string base = argc > 1 ? argv[1] : "/tmp";
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    int recordedSeconds = argc > 3 ? std::atoi(argv[3]) : 600;
    std::string dirTemplate = base + "/bench_archive.XXXXXX";
    if (mkdtemp(dirTemplate.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    PlaybackServiceConfig config;
    config.recording = recorderOf(recordedSeconds);
    PlaybackService service(config);
    RecorderSim sim(RecorderSimConfig{});
    sim.addHandlerFactory(service.factory());
    sim.start();
    const SyntheticRecording& recording = service.recording();
    uint64_t bytes = 0;
    std::vector<Frame> frames = framesOf(recording, bytes);
    // Room for everything in either storage, so the group never overwrites.
    uint64_t storageBytes = 8192 + (bytes + bytes / 2 + (64ull << 20)) / 2 + (64ull << 20);

    Clock::duration endToEnd = Clock::duration::max(), direct = Clock::duration::max(),
                    plain = Clock::duration::max();
    uint64_t plainBytes = 0;
    Cost endToEndCost, directCost, plainCost;
    // Keeps the cost of the best round of a side.
    auto best = [](Clock::duration& bestTime, Cost& bestCost, Clock::duration time, const Cost& cost) {
        if (time < bestTime) {
            bestTime = time;
            bestCost = cost;
        }
    };
    for (int round = 0; round < rounds; ++round) {
        std::string dir = dirTemplate + "/round" + std::to_string(round);
        Cost cost;
        Clock::duration t = runEndToEnd(dir + "e", sim, frames.size(), storageBytes, cost);
        best(endToEnd, endToEndCost, t, cost);
        t = runRecorder(dir + "a", frames, storageBytes, cost);
        best(direct, directCost, t, cost);
        t = runPlainTcp(dir + "b", recording, plainBytes, cost);
        best(plain, plainCost, t, cost);
    }
    sim.stop();
    std::filesystem::remove_all(dirTemplate);

    double mib = double(bytes) / (1024.0 * 1024.0);
    double plainMib = double(plainBytes) / (1024.0 * 1024.0);
    std::printf("bench_archive: 16 video channels + audio at 25 fps, %.2f Mbit/s, %d s recorded, %zu frames, "
                "%.1f MiB of frames (header and payload), best of %d rounds\n",
                mib * 8.0 * 1.048576 / recordedSeconds, recordedSeconds, frames.size(), mib, rounds);
    auto report = [&](const char* name, Clock::duration d, double size, const Cost& cost) {
        double s = seconds(d);
        std::printf("%-44s %7.1f MiB/s %7.1f recorded s per s  %5.2f s wall %5.2f s CPU %6.2f barriers/MiB\n", name,
                    size / s, recordedSeconds / s, s, cost.cpu, cost.barriers / size);
    };
    report("end to end: recorder-sim -> schedule -> group", endToEnd, mib, endToEndCost);
    std::printf("%-44s %7.2f s before the first frame was archived\n", "  (start of the chunk)", endToEndCost.firstFrame);
    for (const auto& [name, times] : endToEndCost.threads.byName) {
        if (times.first >= 0.01) {
            std::printf("  thread %-17s %5.2f s on a CPU, %5.2f s waiting for one, %5.2f s asleep\n", name.c_str(),
                        times.first, times.second, std::max(0.0, seconds(endToEnd) - times.first - times.second));
        }
    }
    report("(a) Recorder into a group, from memory", direct, mib, directCost);
    report("(b) plain TCP receive into an O_DIRECT file", plain, plainMib, plainCost);
    std::printf("end to end / (a): %.3f\n", seconds(direct) / seconds(endToEnd));
    std::printf("peak resident size: %ld MiB\n", peakResidentKiB() / 1024);
    std::printf("ratio: %.3f\n", (mib / seconds(endToEnd)) / (plainMib / seconds(plain)));
    return 0;
}
