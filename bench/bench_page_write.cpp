// Writes 512 KiB pages through Page::save and the I/O context, and the same bytes (the
// very same page memory, to the same file offsets) with plain pwrite on a second O_DIRECT
// descriptor, taking turns page by page. Page::save puts the data blocks down, makes
// them durable with a barrier, then writes the header block; the baseline makes the same
// three system calls by hand, so the ratio is the engine's own overhead on the write
// path. A third figure, one pwrite per page and one flush per round with no ordering at
// all, is the disk's limit: the gap to it is what the barriers cost.
//
// Each side's figure is its best round. The last line is "ratio: X", X = the engine's
// throughput over the same-protocol baseline's (higher is better, 1.0 is parity).
//
// Usage: bench_page_write [directory] [rounds]   (default: /tmp, 20 rounds of 32 pages)

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/File.h"
#include "storage/aio/AIOContext.h"
#include "storage/aio/StorageDevice.h"
#include "storage/pager/FormatOptions.h"
#include "storage/pager/Page.h"
#include "storage/pager/PageCache.h"
#include "storage/pager/SuperBlock.h"

namespace {

constexpr uint32_t PageSize = 524288;
constexpr uint32_t Pages = 32;
constexpr double RoundMiB = double(Pages) * PageSize / 1048576.0;

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct Side {
    const char* name;
    double best = 1e30;  // seconds of the fastest round
    uint64_t barriers = 0;
    double mib = 0;

    void add(Clock::duration time) { best = std::min(best, seconds(time)); }
    double throughput() const { return RoundMiB / best; }
    void print() const {
        std::printf("%-52s %8.1f MiB/s  (best round %.3f s), %.2f barriers/MiB\n", name, throughput(), best,
                    mib > 0 ? double(barriers) / mib : 0.0);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::string base = argc > 1 ? argv[1] : "/tmp";
    int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    std::string dirTemplate = base + "/bench_page_write.XXXXXX";
    if (mkdtemp(dirTemplate.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    std::string enginePath = dirTemplate + "/engine.strg";
    uint64_t fileSize = 8192 + uint64_t(PageSize) * Pages;
    File::create(enginePath.c_str(), fileSize);

    uint64_t size = 0;
    int writeHandle = StorageDevice::openHandle(enginePath.c_str(), false, size);
    int readHandle = StorageDevice::openHandle(enginePath.c_str(), true, size);
    int plain = ::open(enginePath.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
    if (writeHandle < 0 || readHandle < 0 || plain < 0) {
        std::fprintf(stderr, "cannot open the files for direct I/O in %s\n", base.c_str());
        return 1;
    }
    uint32_t block = StorageDevice::ioMinBlockSize(writeHandle);
    bool direct = StorageDevice::isDirect(writeHandle);

    SuperBlock superBlock;
    PageCache cache;
    superBlock.load(readHandle, writeHandle, 0, block);
    FormatOptions options;
    options.pageSize = PageSize;
    superBlock.format(options, Pages, 1);
    superBlock.save();
    cache.bind(superBlock, nullptr);

    auto* plainBuffer = static_cast<uint8_t*>(std::aligned_alloc(4096, PageSize));
    std::memset(plainBuffer, 0x5A, PageSize);

    Side engine{"engine Page::save (data, barrier, header)"};
    Side ordered{"plain pwrite, same three calls"};
    Side unordered{"plain O_DIRECT pwrite, no ordering, one flush/round"};
    AIOContext& io = AIOContext::instance();
    Page page(superBlock, cache);
    for (int round = 0; round < rounds; ++round) {
        Clock::duration engineTime{}, orderedTime{};
        uint64_t barriersBefore = io.barrierCount();
        // Page by page, engine and baseline take turns (alternating who goes first), so
        // both see the same device state.
        for (uint32_t n = 1; n <= Pages; ++n) {
            // Filling the page is the track's work, not the write path's: only save is timed.
            page.init(PageType::Media, n, 16, 0, 0);
            page.buffer().fillAt(128, 0x5A + round, PageSize - 128);
            off_t offset = static_cast<off_t>(4096 + uint64_t(n - 1) * PageSize);
            bool engineFirst = (n + static_cast<uint32_t>(round)) % 2 == 0;
            for (int turn = 0; turn < 2; ++turn) {
                auto start = Clock::now();
                if ((turn == 0) == engineFirst) {
                    page.save();
                    engineTime += Clock::now() - start;
                } else {
                    if (::pwrite(plain, page.data() + block, PageSize - block, offset + block) != PageSize - block ||
                        ::fdatasync(plain) != 0 || ::pwrite(plain, page.data(), block, offset) != block) {
                        std::perror("pwrite");
                        return 1;
                    }
                    orderedTime += Clock::now() - start;
                }
            }
        }
        page.reset();
        engine.add(engineTime);
        engine.barriers += io.barrierCount() - barriersBefore;
        engine.mib += RoundMiB;
        ordered.add(orderedTime);
        ordered.barriers += Pages;
        ordered.mib += RoundMiB;

        auto start = Clock::now();
        for (uint32_t n = 1; n <= Pages; ++n) {
            off_t offset = static_cast<off_t>(4096 + uint64_t(n - 1) * PageSize);
            if (::pwrite(plain, plainBuffer, PageSize, offset) != PageSize) {
                std::perror("pwrite");
                return 1;
            }
        }
        // One flush at the end, so that no side pays for the device cache another one filled.
        ::fdatasync(plain);
        unordered.add(Clock::now() - start);
        unordered.barriers += 1;
        unordered.mib += RoundMiB;
    }
    cache.clear();
    std::free(plainBuffer);
    ::close(plain);
    File::close(readHandle);
    File::close(writeHandle);
    std::filesystem::remove_all(dirTemplate);

    std::printf("%d rounds of %u pages of %u KiB per side (%.0f MiB each), I/O block %u bytes, direct I/O: %s\n",
                rounds, Pages, PageSize / 1024, RoundMiB * rounds, block, direct ? "yes" : "no");
    engine.print();
    ordered.print();
    unordered.print();
    std::printf("barrier cost: the ordered protocol reaches %.0f%% of the unordered disk limit\n",
                100.0 * ordered.throughput() / unordered.throughput());
    std::printf("engine throughput over the same-protocol baseline's\n");
    std::printf("ratio: %.3f\n", engine.throughput() / ordered.throughput());
    return 0;
}
