#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "base/File.h"
#include "base/IOException.h"
#include "storage/aio/AIOContext.h"
#include "storage/aio/FaultPlan.h"
#include "storage/aio/StorageDevice.h"

namespace {

constexpr uint32_t Block = 4096;

struct AlignedDeleter {
    void operator()(char* p) const { std::free(p); }
};
using AlignedBytes = std::unique_ptr<char, AlignedDeleter>;

AlignedBytes filled(uint32_t length, char byte) {
    AlignedBytes bytes(static_cast<char*>(std::aligned_alloc(4096, length)));
    std::memset(bytes.get(), byte, length);
    return bytes;
}

std::string contents(const std::string& path) {
    File file;
    file.open(path.c_str(), File::Read);
    std::string text(file.size(), '\0');
    file.read(text.data(), static_cast<uint32_t>(text.size()));
    return text;
}

// Opens `path` read/write for storage I/O, failing the test when it cannot.
int openForWrite(const std::string& path) {
    uint64_t size = 0;
    int fd = StorageDevice::openHandle(path.c_str(), false, size);
    EXPECT_GE(fd, 0);
    return fd;
}

// Restores the process-wide direct-I/O switch when a test ends.
struct DirectIOScope {
    explicit DirectIOScope(StorageDevice::DirectIO mode) { StorageDevice::setDirectIO(mode); }
    ~DirectIOScope() { StorageDevice::setDirectIO(StorageDevice::DirectIO::Auto); }
};

// Installs a plan on the I/O context for the scope of a test.
struct PlanScope {
    FaultPlan plan;
    PlanScope() { plan.install(); }
};

class StorageDeviceModes : public ::testing::TestWithParam<StorageDevice::DirectIO> {};

}  // namespace

TEST_P(StorageDeviceModes, WritesReadBackAndReadsPastTheEndAreZero) {
    DirectIOScope mode(GetParam());
    TempDir dir;
    auto path = dir.file("a.strg");
    File::create(path.c_str(), 4 * Block);
    uint64_t size = 0;
    int fd = StorageDevice::openHandle(path.c_str(), false, size);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(size, 4u * Block);
    EXPECT_EQ(StorageDevice::isDirect(fd), GetParam() == StorageDevice::DirectIO::Auto);
    uint32_t blockSize = StorageDevice::ioMinBlockSize(fd);
    EXPECT_GE(blockSize, 512u);
    EXPECT_LE(blockSize, Block);

    auto out = filled(2 * Block, 'x');
    AIOContext::instance().write(fd, out.get(), 2 * Block, 2 * Block);
    AIOContext::instance().barrier(fd);

    auto in = filled(2 * Block, '?');
    AIOContext::instance().read(fd, in.get(), 3 * Block, 2 * Block);  // half beyond the end
    EXPECT_TRUE(std::string(in.get(), Block) == std::string(Block, 'x'));
    EXPECT_TRUE(std::string(in.get() + Block, Block) == std::string(Block, '\0'));
    File::close(fd);
    EXPECT_TRUE(contents(path) == std::string(2 * Block, '\0') + std::string(2 * Block, 'x'));
}

INSTANTIATE_TEST_SUITE_P(DirectAndBuffered, StorageDeviceModes,
                         ::testing::Values(StorageDevice::DirectIO::Auto, StorageDevice::DirectIO::Never));

TEST(StorageDevice, ReadOnlyFileAndSecondWriterGetNoWriteHandle) {
    TempDir dir;
    auto path = dir.file("a.strg");
    File::create(path.c_str(), Block);
    struct stat before;
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    uint64_t size = 0;
    EXPECT_EQ(StorageDevice::openHandle(path.c_str(), false, size), -1);
    struct stat after;
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    int reader = StorageDevice::openHandle(path.c_str(), true, size);
    EXPECT_GE(reader, 0);
    File::close(reader);

    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    int writer = openForWrite(path);
    EXPECT_EQ(StorageDevice::openHandle(path.c_str(), false, size), -1);
    reader = StorageDevice::openHandle(path.c_str(), true, size);
    EXPECT_GE(reader, 0);
    File::close(reader);
    File::close(writer);
    writer = openForWrite(path);  // the lock went with the descriptor
    File::close(writer);
    EXPECT_EQ(StorageDevice::openHandle(dir.file("missing").c_str(), true, size), -1);
}

TEST(FaultPlan, FailedAndShortWritesSurfaceAsIOExceptionWithTheRequest) {
    TempDir dir;
    auto path = dir.file("a.strg");
    File::create(path.c_str(), 8 * Block);
    int fd = openForWrite(path);
    PlanScope scope;
    scope.plan.failWrite(2, ENOSPC);
    scope.plan.shortWrite(3);
    auto bytes = filled(Block, 'w');

    AIOContext::instance().write(fd, bytes.get(), 0, Block);
    try {
        AIOContext::instance().write(fd, bytes.get(), 5 * Block, Block);
        FAIL() << "the failing write reported success";
    } catch (const IOException& e) {
        EXPECT_EQ(e.errorCode(), ENOSPC);
        EXPECT_EQ(e.handle(), fd);
        EXPECT_EQ(e.offset(), 5u * Block);
        EXPECT_EQ(e.length(), Block);
    }
    try {
        AIOContext::instance().write(fd, bytes.get(), 2 * Block, Block);
        FAIL() << "the short write reported success";
    } catch (const IOException& e) {
        EXPECT_EQ(e.errorCode(), EIO);
        EXPECT_EQ(e.offset(), 2u * Block);
        EXPECT_EQ(e.length(), Block);
    }
    AIOContext::instance().write(fd, bytes.get(), 7 * Block, Block);
    EXPECT_EQ(scope.plan.writeCount(), 4u);
    File::close(fd);

    std::string file = contents(path);
    EXPECT_TRUE(file.substr(0, Block) == std::string(Block, 'w'));
    EXPECT_TRUE(file.substr(5 * Block, Block) == std::string(Block, '\0'));  // failed: nothing written
    EXPECT_TRUE(file.substr(2 * Block, Block) == std::string(Block / 2, 'w') + std::string(Block / 2, '\0'));
    EXPECT_TRUE(file.substr(7 * Block, Block) == std::string(Block, 'w'));
}

namespace {

// Writes a fixed sequence into a fresh file: one block made durable by a barrier, then
// four un-barriered writes (two of them overlapping), with the power cut at the sixth
// write. Returns the file contents as the crash left them.
std::string crashAfterSequence(const TempDir& dir, const std::string& name, uint32_t seed,
                               std::vector<FaultPlan::Outcome>* outcomes = nullptr) {
    auto path = dir.file(name);
    File::create(path.c_str(), 16 * Block);
    int fd = openForWrite(path);
    PlanScope scope;
    scope.plan.cutPowerAtWrite(6, seed);
    auto& io = AIOContext::instance();
    io.write(fd, filled(Block, 'A').get(), 0, Block);
    io.barrier(fd);
    io.write(fd, filled(2 * Block, 'B').get(), Block, 2 * Block);
    io.write(fd, filled(Block, 'C').get(), 2 * Block, Block);
    io.write(fd, filled(Block, 'D').get(), 0, Block);
    io.write(fd, filled(3 * Block, 'E').get(), 8 * Block, 3 * Block);
    io.write(fd, filled(Block, 'F').get(), 12 * Block, Block);  // the power goes here
    io.write(fd, filled(Block, 'G').get(), 13 * Block, Block);
    io.barrier(fd);
    EXPECT_TRUE(scope.plan.powerIsCut());
    if (outcomes != nullptr) {
        *outcomes = scope.plan.outcomes();
    }
    File::close(fd);
    return contents(path);
}

}  // namespace

// Rebuilds a file from the plan's outcomes: `base` with the kept sectors of each
// undecided write laid over it in order, each write filled with its own byte.
std::string rebuild(std::string base, const std::vector<FaultPlan::Outcome>& outcomes, const std::string& fills) {
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const auto& o = outcomes[i];
        for (size_t sector = 0; sector < o.keptSectors.size(); ++sector) {
            if (o.keptSectors[sector]) {
                base.replace(o.offset + sector * 512, 512, 512, fills[i]);
            }
        }
    }
    return base;
}

bool isPrefix(const std::vector<bool>& kept) {
    auto firstDropped = std::find(kept.begin(), kept.end(), false);
    return std::find(firstDropped, kept.end(), true) == kept.end();
}

TEST(FaultPlan, PowerCutKeepsDropsOrTearsUnbarrieredWritesAndLosesLaterOnes) {
    TempDir dir;
    bool sawKept = false, sawDropped = false, sawTornAnywhere = false;
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        std::vector<FaultPlan::Outcome> outcomes;
        std::string file = crashAfterSequence(dir, "s" + std::to_string(seed), seed, &outcomes);
        ASSERT_EQ(outcomes.size(), 4u);

        std::string expected(16 * Block, '\0');
        expected.replace(0, Block, Block, 'A');  // behind the barrier
        for (const auto& o : outcomes) {
            EXPECT_EQ(o.keptSectors.size(), o.length / 512);
            EXPECT_EQ(o.keptBytes, 512u * std::count(o.keptSectors.begin(), o.keptSectors.end(), true));
            sawKept |= o.keptBytes == o.length;
            sawDropped |= o.keptBytes == 0;
            sawTornAnywhere |= o.keptBytes > 0 && !isPrefix(o.keptSectors);
        }
        EXPECT_TRUE(file == rebuild(expected, outcomes, "BCDE")) << "seed " << seed;
        EXPECT_TRUE(file.substr(12 * Block, 2 * Block) == std::string(2 * Block, '\0'));
    }
    EXPECT_TRUE(sawKept && sawDropped);
    EXPECT_TRUE(sawTornAnywhere) << "a torn write only ever kept its first sectors";
}

TEST(FaultPlan, SameSeedLeavesTheSameFile) {
    TempDir dir;
    EXPECT_TRUE(crashAfterSequence(dir, "one", 77) == crashAfterSequence(dir, "two", 77));
}

TEST(FaultPlan, FailedBarrierIsReportedAndItsWritesNeverBecomeDurable) {
    TempDir dir;
    bool sawLost = false;
    for (uint32_t seed = 1; seed <= 10; ++seed) {
        auto path = dir.file("fsync" + std::to_string(seed));
        File::create(path.c_str(), 4 * Block);
        int fd = openForWrite(path);
        auto& io = AIOContext::instance();
        PlanScope scope;
        scope.plan.failBarrier(1);
        uint64_t x = io.write(fd, filled(Block, 'X').get(), Block, Block);
        EXPECT_TRUE(io.hasPendingWrites(fd));
        try {
            io.barrier(fd);
            FAIL() << "a failed barrier reported success";
        } catch (const IOException& e) {
            EXPECT_EQ(e.errorCode(), EIO);
            EXPECT_EQ(e.handle(), fd);
        }
        EXPECT_TRUE(io.isLost(fd, x));
        EXPECT_FALSE(io.hasPendingWrites(fd));  // no barrier can help them any more
        uint64_t y = io.write(fd, filled(Block, 'Y').get(), 2 * Block, Block);
        EXPECT_TRUE(io.barrierIfPending(fd));
        EXPECT_FALSE(io.barrierIfPending(fd));
        EXPECT_TRUE(io.isDurable(fd, y));
        EXPECT_FALSE(io.isDurable(fd, x)) << "a write the failed barrier lost was reported durable";

        // As on Linux, the lost write's fate is open until the power goes.
        scope.plan.cutPowerAtWrite(scope.plan.writeCount() + 1, seed);
        io.write(fd, filled(Block, 'Z').get(), 3 * Block, Block);
        ASSERT_TRUE(scope.plan.powerIsCut());
        File::close(fd);
        std::string file = contents(path);
        EXPECT_TRUE(file.substr(2 * Block, Block) == std::string(Block, 'Y')) << "seed " << seed;
        sawLost |= file.substr(Block, Block) != std::string(Block, 'X');
    }
    EXPECT_TRUE(sawLost) << "a later barrier made the writes of a failed one durable";
}

TEST(FaultPlan, PowerCutAtABarrierDecidesEveryWriteSinceTheLastOneAlsoBeforeArming) {
    TempDir dir;
    bool sawUnarmedLost = false, sawArmedLost = false;
    for (uint32_t seed = 1; seed <= 10; ++seed) {
        auto path = dir.file("b" + std::to_string(seed));
        File::create(path.c_str(), 4 * Block);
        int fd = openForWrite(path);
        auto& io = AIOContext::instance();
        PlanScope scope;
        io.write(fd, filled(Block, 'A').get(), 0, Block);
        io.barrier(fd);
        io.write(fd, filled(Block, 'X').get(), Block, Block);  // before the cut is armed
        scope.plan.cutPowerAtBarrier(scope.plan.barrierCount() + 1, seed);
        io.write(fd, filled(Block, 'B').get(), 2 * Block, Block);
        io.barrier(fd);  // the power goes here
        io.write(fd, filled(Block, 'C').get(), 3 * Block, Block);
        ASSERT_TRUE(scope.plan.powerIsCut());
        EXPECT_EQ(scope.plan.outcomes().size(), 2u);
        File::close(fd);
        std::string file = contents(path);
        EXPECT_TRUE(file.substr(0, Block) == std::string(Block, 'A'));
        EXPECT_TRUE(file.substr(3 * Block, Block) == std::string(Block, '\0'));
        sawUnarmedLost |= file.substr(Block, Block) != std::string(Block, 'X');
        sawArmedLost |= file.substr(2 * Block, Block) != std::string(Block, 'B');
    }
    EXPECT_TRUE(sawUnarmedLost) << "a write made before the cut was armed always survived it";
    EXPECT_TRUE(sawArmedLost);
}

TEST(FaultPlan, AimedPlanCountsAndFaultsOneFileButAPowerCutHitsEveryFile) {
    TempDir dir;
    auto pathA = dir.file("a.strg");
    auto pathB = dir.file("b.strg");
    File::create(pathA.c_str(), 4 * Block);
    File::create(pathB.c_str(), 4 * Block);
    int a = openForWrite(pathA);
    int b = openForWrite(pathB);
    auto& io = AIOContext::instance();
    bool sawALost = false;
    for (uint32_t seed = 1; seed <= 10; ++seed) {
        PlanScope scope;
        scope.plan.aimAt(pathB);
        scope.plan.failWrite(1, ENOSPC);
        io.write(a, filled(Block, 'a').get(), 0, Block);
        EXPECT_THROW(io.write(b, filled(Block, 'b').get(), 0, Block), IOException);
        EXPECT_EQ(scope.plan.writeCount(), 1u);
        io.write(a, filled(Block, 'A').get(), Block, Block);  // not behind any barrier
        scope.plan.cutPowerAtWrite(2, seed);
        io.write(b, filled(Block, 'B').get(), Block, Block);
        ASSERT_TRUE(scope.plan.powerIsCut());
        std::string fileA = contents(pathA);
        sawALost |= fileA.substr(Block, Block) != std::string(Block, 'A');
        EXPECT_TRUE(contents(pathB).substr(Block, Block) == std::string(Block, '\0'));
    }
    EXPECT_TRUE(sawALost) << "the power cut spared the file the plan was not aimed at";
    File::close(a);
    File::close(b);
}

TEST(FaultPlan, ShortReadIsResumedAndAFailedReadReported) {
    TempDir dir;
    auto path = dir.file("r.strg");
    File::create(path.c_str(), 4 * Block);
    int fd = openForWrite(path);
    auto& io = AIOContext::instance();
    io.write(fd, filled(4 * Block, 'r').get(), 0, 4 * Block);
    PlanScope scope;
    scope.plan.shortRead(1);
    scope.plan.failRead(3, EIO);
    auto in = filled(4 * Block, '?');
    io.read(fd, in.get(), 0, 4 * Block);
    EXPECT_TRUE(std::string(in.get(), 4 * Block) == std::string(4 * Block, 'r'))
        << "a transfer cut short was taken for the end of the file";
    EXPECT_EQ(scope.plan.readCount(), 2u);
    try {
        io.read(fd, in.get(), Block, Block);
        FAIL() << "a failed read reported success";
    } catch (const IOException& e) {
        EXPECT_EQ(e.errorCode(), EIO);
        EXPECT_EQ(e.offset(), Block);
        EXPECT_EQ(e.length(), Block);
    }
    File::close(fd);
}
