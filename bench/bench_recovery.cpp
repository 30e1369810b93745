// Opening a large storage after a crash: the correction and recovery a writable open runs
// read the journal and the ends of the tracks, not the file. A 1 GiB storage is recorded
// nearly full, the writer stops without flushing (the timeline lags the media track, the
// last frame continues into a page that never joined), and the open that corrects it is
// measured against a full scan that loads every page of every track, as a correction
// walking the chains would. Page loads are counted by the I/O context, side by side in
// one run, best of several rounds for each side.
//
// The correction writes what it repairs behind barriers; on a disk those barriers, not the
// reading, set its time, so by default the files live in /dev/shm (else /tmp).
//
// Usage: bench_recovery [directory] [rounds]   (default: /dev/shm, 3 rounds)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/File.h"
#include "storage/FixedSizeFileStorage.h"
#include "storage/MediaElement.h"
#include "storage/Recorder.h"
#include "storage/aio/AIOContext.h"
#include "storage/aio/FaultPlan.h"
#include "storage/pager/Page.h"
#include "storage/pager/TrackListItem.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t FileSize = 1ull << 30;
constexpr uint32_t FrameSize = 96 * 1024;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void record(Storage& storage, uint64_t from, uint64_t count) {
    Recorder recorder;
    recorder.attach(&storage, 0, false);
    std::vector<uint8_t> bytes(FrameSize, 0x3c);
    DateTime start(2024, 5, 1, 10, 0, 0);
    for (uint64_t n = from; n < from + count; ++n) {
        MediaElement frame;
        frame.setMediaType(TimelineLinkedElement::Video);
        frame.setChannelMask(BitMask32(1));
        frame.setSyncKeyID(static_cast<uint32_t>(n / 25));
        frame.setSyncIndex(static_cast<uint16_t>(n % 25));
        frame.setTime(start.plusSeconds(static_cast<int>(n / 5)));
        frame.setDataLength(n % 25 == 0 ? FrameSize : FrameSize / 4);
        frame.setPayload(bytes.data());
        recorder.write(frame);
    }
    recorder.detach();
}

struct Measure {
    double seconds = 1e9;
    uint64_t loads = 0;
    std::string recovered;
};

// The writable open of the crashed file: journal, correction, recovery, tracks.
Measure correct(const std::string& crashed, const std::string& work) {
    std::filesystem::copy_file(crashed, work, std::filesystem::copy_options::overwrite_existing);
    FaultPlan plan;  // counts, injects nothing
    plan.install();
    plan.aimAt(work);
    FixedSizeFileStorage storage;
    Clock::time_point t0 = Clock::now();
    if (!storage.open(work.c_str())) {
        std::fprintf(stderr, "bench_recovery: the crashed storage does not open\n");
        std::exit(1);
    }
    Measure m;
    m.seconds = seconds(Clock::now() - t0);
    m.loads = plan.readCount();
    for (const LogTrack::Message& message : storage.logMessages()) {
        if (message.text.rfind("[RECOVERY] timeline ", 0) == 0) {
            m.recovered = message.text;
        }
    }
    storage.close(false);
    return m;
}

// Every page of every track loaded whole, along the chains.
Measure fullScan(const std::string& work) {
    FixedSizeFileStorage storage;
    storage.setReadOnly(true);
    if (!storage.open(work.c_str())) {
        std::fprintf(stderr, "bench_recovery: the corrected storage does not open\n");
        std::exit(1);
    }
    FaultPlan plan;
    plan.install();
    plan.aimAt(work);
    Clock::time_point t0 = Clock::now();
    Page page(storage.superBlock(), storage.pageCache());
    uint64_t pages = 0;
    for (const TrackListItem& item : storage.tracks()) {
        uint32_t number = item.firstPage();
        for (uint32_t steps = 0; steps <= storage.pageCount() && storage.superBlock().isPageNumber(number); ++steps) {
            page.load(number, true);
            ++pages;
            if (number == item.lastPage()) {
                break;
            }
            number = page.next();
        }
    }
    page.reset();
    Measure m;
    m.seconds = seconds(Clock::now() - t0);
    m.loads = plan.readCount();
    storage.close(false);
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    std::error_code error;
    std::string dir = argc > 1 ? argv[1] : std::filesystem::is_directory("/dev/shm", error) ? "/dev/shm" : "/tmp";
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    std::string crashed = dir + "/bench_recovery_crashed.strg";
    std::string work = dir + "/bench_recovery_work.strg";
    File::create(crashed.c_str(), FileSize);
    if (!formatStorageFile(crashed, UniqueID())) {
        std::fprintf(stderr, "bench_recovery: formatting %s failed\n", crashed.c_str());
        return 1;
    }
    uint64_t frames = 0;
    {
        FixedSizeFileStorage storage;
        storage.open(crashed.c_str());
        // Nearly full: the recording stops short of overwriting.
        uint64_t perPage = storage.pageSize() / (FrameSize / 3);
        frames = uint64_t(storage.pageCount()) * perPage * 9 / 10;
        record(storage, 0, frames);
        storage.flushAll();
        // Then the writer dies with frames on disk that no timeline page names yet.
        record(storage, frames, 60);
        storage.close(false);
    }
    Measure best;
    Measure scan;
    for (int round = 0; round < rounds; ++round) {
        Measure c = correct(crashed, work);
        if (c.seconds < best.seconds) {
            best = c;
        }
        Measure s = fullScan(work);
        if (s.seconds < scan.seconds) {
            scan = s;
        }
    }
    FixedSizeFileStorage storage;
    storage.setReadOnly(true);
    storage.open(work.c_str());
    uint32_t pageCount = storage.pageCount();
    storage.close(false);
    std::filesystem::remove(crashed);
    std::filesystem::remove(work);
    std::printf("storage: 1 GiB, %u pages of 512 KiB, %llu frames recorded, 60 more lost their index\n",
                pageCount, static_cast<unsigned long long>(frames));
    std::printf("correction: %s\n", best.recovered.c_str());
    std::printf("correcting open: %llu reads, %.4f s (best of %d)\n",
                static_cast<unsigned long long>(best.loads), best.seconds, rounds);
    std::printf("full scan:       %llu reads, %.4f s (best of %d)\n",
                static_cast<unsigned long long>(scan.loads), scan.seconds, rounds);
    std::printf("ratio: %.2f\n", scan.seconds / best.seconds);
    return 0;
}
