#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "ChildProcess.h"
#include "TempDir.h"
#include "base/AssertionFailException.h"
#include "base/File.h"
#include "base/SystemException.h"
#include "base/WinFile.h"

namespace {

std::string readAll(const std::string& path) {
    File file;
    file.open(path.c_str(), File::Read);
    std::string text(file.size(), '\0');
    EXPECT_EQ(file.read(text.data(), static_cast<uint32_t>(text.size())), text.size());
    return text;
}

void writeText(const std::string& path, const std::string& text) {
    File file;
    file.open(path.c_str(), File::Write | File::CreateNew);
    file.write(text.data(), static_cast<uint32_t>(text.size()));
}

}  // namespace

TEST(File, CreateMakesFilesOfExactSizeAndNeverTouchesAnExistingOne) {
    TempDir dir;
    auto empty = dir.file("empty.strg");
    auto large = dir.file("large.strg");
    File::create(empty.c_str(), 0);
    File::create(large.c_str(), 5368709120ull);
    EXPECT_EQ(File::size(empty.c_str()), 0u);
    EXPECT_EQ(File::size(large.c_str()), 5368709120ull);

    auto existing = dir.file("existing");
    writeText(existing, "keep me");
    try {
        File::create(existing.c_str(), 4096);
        FAIL() << "create over an existing file succeeded";
    } catch (const SystemException& e) {
        EXPECT_EQ(e.errorCode(), EEXIST);
    }
    EXPECT_EQ(readAll(existing), "keep me");
}

TEST(File, ExistsTellsMissingFileFromMissingDirectory) {
    TempDir dir;
    auto path = dir.file("a.strg");
    EXPECT_FALSE(File::exists(path.c_str()));
    File::create(path.c_str(), 10);
    EXPECT_TRUE(File::exists(path.c_str()));

    auto orphan = dir.file("no-such-dir/a.strg");
    EXPECT_THROW(File::exists(orphan.c_str()), SystemException);
    EXPECT_THROW(WinFile::exists(orphan.c_str()), SystemException);
    EXPECT_FALSE(WinFile::isLocked(orphan.c_str()));
}

TEST(File, TruncateLeavesFileAndPositionAtTheCut) {
    TempDir dir;
    auto path = dir.file("t");
    File::create(path.c_str(), 1000);
    File file;
    file.open(path.c_str(), File::Read | File::Write);
    file.truncate(100);
    EXPECT_EQ(file.tell(), 100u);
    EXPECT_EQ(file.size(), 100u);
    EXPECT_EQ(File::size(path.c_str()), 100u);
}

TEST(File, ReadOnlyFollowsWritePermissionBits) {
    TempDir dir;
    auto path = dir.file("ro");
    File::create(path.c_str(), 1);
    EXPECT_FALSE(File::isReadOnly(path.c_str()));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_TRUE(File::isReadOnly(path.c_str()));
    EXPECT_THROW(File::isReadOnly(dir.file("missing").c_str()), SystemException);
}

TEST(File, PhysicalDriveNeedsPrefixAtStartOrABlockDevice) {
    EXPECT_TRUE(File::isPhysicalDrive("\\\\.\\PHYSICALDRIVE0"));
    EXPECT_TRUE(File::isPhysicalDrive("\\\\.\\PHYSICALDRIVE12"));
    EXPECT_FALSE(File::isPhysicalDrive("C:\\\\.\\PHYSICALDRIVE0"));
    EXPECT_FALSE(File::isPhysicalDrive("\\\\.\\physicaldrive0"));
    EXPECT_FALSE(File::isPhysicalDrive("/dev/null"));  // a character device
    EXPECT_FALSE(File::isPhysicalDrive("/tmp/dev/sda"));
}

TEST(File, IoBlockSizeIsNeverBelow512) {
    TempDir dir;
    auto path = dir.file("b");
    File::create(path.c_str(), 4096);
    File file;
    file.open(path.c_str(), File::Read);
    uint32_t size = File::ioBlockSize(file.handle());
    EXPECT_GE(size, 512u);
    EXPECT_EQ(size & (size - 1), 0u);
}

TEST(WinFile, UnsharedOpenLocksOutOtherOpenersUntilClosed) {
    TempDir dir;
    auto path = dir.file("group.strgx");
    EXPECT_FALSE(WinFile::isLocked(path.c_str()));  // missing
    WinFile::create(path.c_str(), 16);

    WinFile holder;
    holder.open(path.c_str(), File::Read | File::Write, false);
    EXPECT_TRUE(WinFile::isLocked(path.c_str()));
    EXPECT_TRUE(WinFile::exists(path.c_str()));

    WinFile second;
    try {
        second.open(path.c_str(), File::Read | File::Write, false);
        FAIL() << "a second exclusive open succeeded";
    } catch (const SystemException& e) {
        EXPECT_EQ(e.errorCode(), EWOULDBLOCK);
    }
    EXPECT_EQ(second.handle(), WinFile::InvalidHandle);

    WinFile reader;  // a shared open takes no lock and is allowed
    reader.open(path.c_str(), File::Read, true);
    EXPECT_EQ(reader.size(), 16u);

    holder.close();
    EXPECT_FALSE(WinFile::isLocked(path.c_str()));
}

TEST(WinFile, DestroyingTheObjectReleasesTheLock) {
    TempDir dir;
    auto path = dir.file("group.strgx");
    WinFile::create(path.c_str(), 0);
    {
        WinFile holder;
        holder.open(path.c_str(), File::Read | File::Write, false);
        EXPECT_TRUE(WinFile::isLocked(path.c_str()));
    }
    EXPECT_FALSE(WinFile::isLocked(path.c_str()));
}

TEST(WinFile, ClosedObjectAssertsOnlyWhileAssertionsAreEnabled) {
    WinFile file;
    AssertionsEnabledScope enabled;
    EXPECT_THROW(file.size(), AssertionFailException);
    char byte;
    EXPECT_THROW(file.read(&byte, 1), AssertionFailException);
}

TEST(File, CreateReservesTheSpaceAndRefusesMoreThanTheVolumeHas) {
    TempDir dir;
    auto path = dir.file("reserved.strg");
    constexpr uint64_t size = 64ull * 1024 * 1024;
    File::create(path.c_str(), size);
    struct stat info;
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_GE(static_cast<uint64_t>(info.st_blocks) * 512, size) << "the file is sparse: its space is not reserved";

    auto tooLarge = dir.file("too-large.strg");
    uint64_t free = File::freeSize(dir.path().c_str());
    try {
        File::create(tooLarge.c_str(), free + 1024ull * 1024 * 1024);
        FAIL() << "a file larger than the free space was created";
    } catch (const SystemException& e) {
        EXPECT_EQ(e.errorCode(), ENOSPC);
    }
    EXPECT_FALSE(File::exists(tooLarge.c_str()));
}

TEST(File, BlockSizeWithoutTheFileSystemsAnswerComesFromTheDevice) {
    // A sysfs tree with a 4096-byte disk (8:0) and a partition on it (8:1), whose queue
    // lives in its disk's directory.
    TempDir sys;
    auto root = sys.path();
    std::filesystem::create_directories(root / "devices/sda/queue");
    std::filesystem::create_directories(root / "devices/sda/sda1");
    std::filesystem::create_directories(root / "dev/block");
    writeText((root / "devices/sda/queue/logical_block_size").string(), "4096\n");
    std::filesystem::create_directory_symlink("../../devices/sda", root / "dev/block/8:0");
    std::filesystem::create_directory_symlink("../../devices/sda/sda1", root / "dev/block/8:1");
    EXPECT_EQ(File::logicalBlockSize(8, 0, root.c_str()), 4096u);
    EXPECT_EQ(File::logicalBlockSize(8, 1, root.c_str()), 4096u);
    EXPECT_EQ(File::logicalBlockSize(8, 2, root.c_str()), 0u);

    // On this machine the device's answer agrees with the file system's.
    TempDir dir;
    auto path = dir.file("b");
    File::create(path.c_str(), 4096);
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    if (fd < 0) {
        GTEST_SKIP() << "no direct I/O here";
    }
    uint32_t device = File::deviceBlockSize(fd);
    EXPECT_EQ(device, File::ioBlockSize(fd));
    ::close(fd);
}

TEST(WinFile, FileThatCannotBeOpenedCountsAsLocked) {
    TempDir dir;
    auto path = dir.file("group.strgx");
    WinFile::create(path.c_str(), 16);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0000), 0);
    if (::geteuid() != 0) {
        EXPECT_TRUE(WinFile::isLocked(path.c_str()));
        return;
    }
    // Permission bits do not stop root: ask as another user.
    ChildProcess child([&] {
        bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
        return !dropped ? 2 : WinFile::isLocked(path.c_str()) ? 0 : 1;
    });
    EXPECT_EQ(child.wait(), 0) << "an unreadable file was reported free to use (2: could not change user)";
}
