// Writes 512 KiB pages through Page::save and the I/O context, and the same bytes (the
// very same page memory, to the same file offsets) with plain pwrite on a second O_DIRECT
// descriptor, taking turns page by page. Page::save puts the data blocks down, issues a
// durability barrier, then writes the header block; the baseline makes the same three
// system calls by hand, so the ratio is the engine's own overhead on the write path. A
// third figure, one pwrite per page and one flush per round, shows what the ordering
// barrier costs.
//
// Usage: bench_page_write [directory] [rounds]   (default: /tmp, 40 rounds of 32 pages)

#include <fcntl.h>
#include <unistd.h>

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

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    std::string base = argc > 1 ? argv[1] : "/tmp";
    int rounds = argc > 2 ? std::atoi(argv[2]) : 40;
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

    Clock::duration engineTime{}, plainTime{}, unorderedTime{};
    Page page(superBlock, cache);
    for (int round = 0; round < rounds; ++round) {
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
                    plainTime += Clock::now() - start;
                }
            }
        }
        page.reset();

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
        unorderedTime += Clock::now() - start;
    }
    cache.clear();
    std::free(plainBuffer);
    ::close(plain);
    File::close(readHandle);
    File::close(writeHandle);
    std::filesystem::remove_all(dirTemplate);

    double pagesWritten = double(rounds) * Pages;
    double mib = pagesWritten * PageSize / 1048576.0;
    std::printf("pages written per side: %.0f (%.0f MiB), I/O block %u bytes, direct I/O: %s\n", pagesWritten, mib,
                block, direct ? "yes" : "no");
    std::printf("engine Page::save (data, barrier, header): %.3f s, %.1f MiB/s\n", seconds(engineTime),
                mib / seconds(engineTime));
    std::printf("plain pwrite, same three calls:           %.3f s, %.1f MiB/s\n", seconds(plainTime),
                mib / seconds(plainTime));
    std::printf("plain pwrite, one call per page, one flush per round: %.3f s, %.1f MiB/s (no ordering; for scale)\n",
                seconds(unorderedTime), mib / seconds(unorderedTime));
    std::printf("time ratio, engine over plain pwrite with the same barrier\n");
    std::printf("ratio: %.3f\n", seconds(engineTime) / seconds(plainTime));
    return 0;
}
