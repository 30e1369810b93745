// Pages joining a track through Storage::flushPage: each page is written whole, and every
// 8 MiB of pages join their track in one journaled batch (journal, barrier, free-list page
// and track list), against plain O_DIRECT pwrite of the same 512 KiB pages with no
// ordering at all. A third figure, plain pwrite with one fdatasync per page, shows what
// a barrier per page would cost. This is what archiving pays per page of media.
//
// Usage: bench_page_join [directory] [rounds]   (default: /tmp, 6 rounds of 24 pages)

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/File.h"
#include "storage/FixedSizeFileStorage.h"
#include "storage/aio/AIOContext.h"
#include "storage/aio/FaultPlan.h"
#include "storage/pager/Page.h"

namespace {

constexpr uint32_t PageSize = 524288;
constexpr uint32_t PagesPerRound = 24;

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Takes a free page, fills it as a track would, and lets it join the media track.
void joinPages(Storage& storage, Page& page, uint32_t count, uint32_t& previous, uint32_t& previousChecksum) {
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t number = storage.findNextWritablePageNumber(PageType::Media);
        page.init(PageType::Media, number, 64, previous, previousChecksum);
        page.buffer().fillAt(128, 0x5A, static_cast<int>(PageSize - 128));
        page.setItemCount(1);
        storage.registerPage(page);
        storage.flushPage(page);
        previous = number;
        previousChecksum = page.checksum();
        page.reset();
    }
}

void plainPages(int fd, const uint8_t* bytes, uint32_t first, uint32_t count, bool barrier) {
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t offset = 4096 + uint64_t(first + i) * PageSize;
        if (::pwrite(fd, bytes, PageSize, static_cast<off_t>(offset)) != static_cast<ssize_t>(PageSize)) {
            std::perror("pwrite");
            std::exit(1);
        }
        if (barrier && ::fdatasync(fd) != 0) {
            std::perror("fdatasync");
            std::exit(1);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string base = argc > 1 ? argv[1] : "/tmp";
    int rounds = argc > 2 ? std::atoi(argv[2]) : 6;
    std::string dirTemplate = base + "/bench_page_join.XXXXXX";
    if (mkdtemp(dirTemplate.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    uint32_t pages = static_cast<uint32_t>(rounds + 1) * PagesPerRound + 8;
    std::string enginePath = dirTemplate + "/engine.strg";
    std::string plainPath = dirTemplate + "/plain.strg";
    uint64_t fileSize = 8192 + uint64_t(PageSize) * pages;
    File::createPreallocated(enginePath.c_str(), fileSize);
    File::createPreallocated(plainPath.c_str(), fileSize);

    FixedSizeFileStorage storage;
    storage.open(enginePath.c_str());
    FormatOptions options;
    options.recorderType = RecorderType::Flac;
    storage.format(options);
    int plain = ::open(plainPath.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
    auto* bytes = static_cast<uint8_t*>(std::aligned_alloc(4096, PageSize));
    if (plain < 0 || bytes == nullptr) {
        std::fprintf(stderr, "cannot open %s for direct I/O\n", plainPath.c_str());
        return 1;
    }
    std::memset(bytes, 0x5A, PageSize);

    Page page(storage.superBlock(), storage.pageCache());
    uint32_t previous = 0, previousChecksum = 0;
    // One counted round first: writes and barriers per page of each side.
    FaultPlan counter;
    AIOContext::instance().setFaultPlan(&counter);
    joinPages(storage, page, PagesPerRound, previous, previousChecksum);
    AIOContext::instance().setFaultPlan(nullptr);
    double barriersPerPage = double(counter.barrierCount()) / PagesPerRound;
    double writesPerPage = double(counter.writeCount()) / PagesPerRound;

    Clock::duration engineBest = Clock::duration::max(), plainBest = Clock::duration::max(),
                    syncedBest = Clock::duration::max();
    for (int round = 0; round < rounds; ++round) {
        uint32_t first = static_cast<uint32_t>(round) * PagesPerRound;
        auto t0 = Clock::now();
        joinPages(storage, page, PagesPerRound, previous, previousChecksum);
        auto t1 = Clock::now();
        plainPages(plain, bytes, first, PagesPerRound, false);
        auto t2 = Clock::now();
        plainPages(plain, bytes, first, PagesPerRound, true);
        auto t3 = Clock::now();
        engineBest = std::min(engineBest, t1 - t0);
        plainBest = std::min(plainBest, t2 - t1);
        syncedBest = std::min(syncedBest, t3 - t2);
    }
    storage.close(true);
    ::close(plain);
    std::free(bytes);
    std::filesystem::remove_all(dirTemplate);

    double mib = double(PagesPerRound) * PageSize / (1024.0 * 1024.0);
    auto report = [&](const char* name, Clock::duration d, double barriers, double writes) {
        double s = seconds(d);
        std::printf("%-34s %8.1f pages/s %8.1f MiB/s %6.1f barriers/MiB %5.1f writes/page\n", name,
                    PagesPerRound / s, mib / s, barriers * PagesPerRound / mib, writes);
    };
    std::printf("%u pages of %u KiB per round, best of %d rounds\n", PagesPerRound, PageSize / 1024, rounds);
    report("flushPage (batched page joins)", engineBest, barriersPerPage, writesPerPage);
    report("plain O_DIRECT pwrite", plainBest, 0, 1);
    report("plain pwrite + fdatasync per page", syncedBest, 1, 1);
    double ours = mib / seconds(engineBest);
    double theirs = mib / seconds(plainBest);
    std::printf("ratio: %.3f\n", ours / theirs);
    return 0;
}
