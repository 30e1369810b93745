// Frames of the synthetic recording (four video channels with key groups, audio,
// text-in) written through the Recorder into a storage file on disk, closed with a flush,
// against plain O_DIRECT sequential pwrite of the same number of bytes in 512 KiB writes
// and one fdatasync at the end. The frames are generated before the clock starts. Best
// of several rounds for each side, measured side by side.
//
// Usage: bench_record [directory] [rounds] [MiB per round]   (default: /tmp, 5, 256)

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/File.h"
#include "recorder-sim/recording/SyntheticRecording.h"
#include "storage/FixedSizeFileStorage.h"
#include "storage/MediaElement.h"
#include "storage/Recorder.h"
#include "storage/aio/AIOContext.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t WriteSize = 524288;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// CPU seconds the process has used so far (user and system).
double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Frame {
    MediaElement element;
    std::vector<uint8_t> bytes;
};

// The recording's frames in order until `budget` bytes of payload.
std::vector<Frame> framesOf(const SyntheticRecording& recording, uint64_t budget, uint64_t& total) {
    std::vector<Frame> frames;
    FrameCursor cursor = recording.cursorAtFirst(BitMask32(0xFFFF));
    SyntheticFrame f;
    total = 0;
    while (total < budget && cursor.next(f)) {
        Frame frame;
        MediaElement& e = frame.element;
        if (f.isTextIn()) {
            e.setMediaType(TimelineLinkedElement::TextIn);
            e.setChannelMask(f.textIn.channelMask);
            e.setTime(f.textIn.time);
            e.setSyncIndex(f.textIn.syncIndex);
            e.setSyncKeyID(f.textIn.syncKeyID);
            frame.bytes.assign(f.textIn.text, f.textIn.text + std::strlen(f.textIn.text) + 1);
            e.setDataLength(static_cast<uint32_t>(frame.bytes.size()));
        } else {
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
            total += 64;
        }
        total += frame.bytes.size();
        frames.push_back(std::move(frame));
    }
    for (Frame& frame : frames) {
        frame.element.setPayload(frame.bytes.data());
    }
    return frames;
}

}  // namespace

int main(int argc, char** argv) {
    std::string base = argc > 1 ? argv[1] : "/tmp";
    int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    uint64_t budget = (argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 256) << 20;
    std::string dirTemplate = base + "/bench_record.XXXXXX";
    if (mkdtemp(dirTemplate.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    SyntheticRecordingOptions options;
    options.sliceSeconds = 3600;
    SyntheticRecording recording(options);
    uint64_t bytes = 0;
    std::vector<Frame> frames = framesOf(recording, budget, bytes);
    uint64_t fileSize = 8192 + bytes + bytes / 4 + 64ull * 524288;
    std::string enginePath = dirTemplate + "/engine.strg";
    std::string plainPath = dirTemplate + "/plain.strg";
    File::createPreallocated(enginePath.c_str(), fileSize);
    File::createPreallocated(plainPath.c_str(), fileSize);
    int plain = ::open(plainPath.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
    auto* block = static_cast<uint8_t*>(std::aligned_alloc(4096, WriteSize));
    if (plain < 0 || block == nullptr) {
        std::fprintf(stderr, "cannot open %s for direct I/O\n", plainPath.c_str());
        return 1;
    }
    std::memset(block, 0x5A, WriteSize);

    Clock::duration engineBest = Clock::duration::max(), plainBest = Clock::duration::max();
    uint64_t engineBarriers = 0;
    double engineCpu = 0, plainCpu = 0;
    for (int round = 0; round < rounds; ++round) {
        FixedSizeFileStorage storage;
        storage.open(enginePath.c_str());
        FormatOptions format;
        format.recorderType = RecorderType::Flac;
        storage.format(format);
        Recorder recorder;
        recorder.attach(&storage, 0, false);
        uint64_t barriers0 = AIOContext::instance().barrierCount();
        double cpu0 = cpuSeconds();
        auto t0 = Clock::now();
        for (Frame& frame : frames) {
            recorder.write(frame.element);
        }
        storage.flush();
        auto t1 = Clock::now();
        double cpu1 = cpuSeconds();
        engineBarriers = AIOContext::instance().barrierCount() - barriers0;
        recorder.detach();
        storage.close(true);
        if (t1 - t0 < engineBest) {
            engineBest = t1 - t0;
            engineCpu = cpu1 - cpu0;
        }

        double cpu2 = cpuSeconds();
        auto t2 = Clock::now();
        for (uint64_t offset = 0; offset < bytes; offset += WriteSize) {
            if (::pwrite(plain, block, WriteSize, static_cast<off_t>(8192 + offset)) != WriteSize) {
                std::perror("pwrite");
                return 1;
            }
        }
        if (::fdatasync(plain) != 0) {
            std::perror("fdatasync");
            return 1;
        }
        auto t3 = Clock::now();
        if (t3 - t2 < plainBest) {
            plainBest = t3 - t2;
            plainCpu = cpuSeconds() - cpu2;
        }
    }
    ::close(plain);
    std::free(block);
    std::filesystem::remove_all(dirTemplate);

    double mib = double(bytes) / (1024.0 * 1024.0);
    std::printf("%zu frames, %.1f MiB of frames (header and payload), best of %d rounds\n", frames.size(), mib,
                rounds);
    auto report = [&](const char* name, Clock::duration d, double cpu, double barriers) {
        double s = seconds(d);
        std::printf("%-36s %8.1f MiB/s %9.0f frames/s %6.2f s wall %5.2f s CPU %6.2f barriers/MiB\n", name,
                    mib / s, frames.size() / s, s, cpu, barriers / mib);
    };
    report("Recorder into a storage file", engineBest, engineCpu, double(engineBarriers));
    report("plain O_DIRECT pwrite, 512 KiB", plainBest, plainCpu, 1.0);
    std::printf("ratio: %.3f\n", seconds(plainBest) / seconds(engineBest));
    return 0;
}
