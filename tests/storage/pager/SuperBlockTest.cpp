#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ChildProcess.h"
#include "CrashSweep.h"
#include "PagerFixture.h"
#include "base/TarsilException.h"
#include "storage/pager/FixedSizeFreePageAllocator.h"
#include "storage/pager/TarsilAbility.h"
#include "storage/pager/TarsilFormat.h"

namespace {

constexpr uint32_t PageSize = 65536;

// A superblock image as a big-endian host writes it: every integer big-endian,
// byteOrder 0, one "FREE" track.
std::string bigEndianImage(uint32_t version, uint32_t pageSize) {
    std::string image(4096, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        image[at] = char(v >> 24);
        image[at + 1] = char(v >> 16);
        image[at + 2] = char(v >> 8);
        image[at + 3] = char(v);
    };
    std::memcpy(image.data(), "Tarsil Storage 1", 16);
    put32(0x010, version);
    put32(0x034, pageSize);
    put32(0x038, 300);
    put32(0x03C, 0);
    put32(0x040, 4096);
    put32(0x084, 0xCAFEF00D);
    std::memcpy(image.data() + 0x050, "made on a big host", 18);
    image[0x048] = char(2009 >> 8);  // formattedTime: year 2009 big-endian, 3/14 10:20:30
    image[0x049] = char(2009 & 0xFF);
    image[0x04A] = 3;
    image[0x04B] = 14;
    image[0x04C] = 0;
    image[0x04D] = 10;
    image[0x04E] = 20;
    image[0x04F] = 30;
    put32(0x208, 1);
    std::memcpy(image.data() + 0x210, "FREE", 4);
    put32(0x214, 0xFFFFFFFF);
    put32(0x218, 1);
    put32(0x21C, 1);
    put32(0x220, 0x01020304);
    put32(0x224, 0x01020304);
    return image;
}

SuperBlock& loadImage(PagerFile& file, const std::string& image) {
    writeBytes(file.path, 0, image);
    file.load();
    return file.superBlock;
}

}  // namespace

TEST(SuperBlock, BigEndianHostImageReadsCorrectly) {
    TempDir dir;
    PagerFile file(dir, "be.strg", PageSize, 4);
    SuperBlock& sb = loadImage(file, bigEndianImage(4, PageSize));
    ASSERT_TRUE(sb.isValid());
    EXPECT_EQ(sb.byteOrder(), 1);
    EXPECT_EQ(sb.pageByteOrder(), ByteOrder::BigEndian);
    EXPECT_EQ(sb.pageSize(), PageSize);
    EXPECT_EQ(sb.pageCount(), 300u);
    EXPECT_EQ(sb.checksum(), 0xCAFEF00Du);
    EXPECT_STREQ(sb.description(), "made on a big host");
    EXPECT_EQ(sb.formattedTime().year(), 2009);
    EXPECT_EQ(sb.formattedTime().minute(), 20);
    TrackListItem free;
    ASSERT_TRUE(sb.findTrack(PageType::FreePageList, free));
    EXPECT_EQ(free.lastPage(), 1u);
    EXPECT_EQ(free.firstPageChecksum(), 0x01020304u);
    EXPECT_EQ(sb.pageOffset(1), 4096u);
    EXPECT_EQ(sb.pageOffset(3), 4096u + 2 * PageSize);
}

TEST(SuperBlock, BadFieldsMakeItInvalidWithoutCrashing) {
    TempDir dir;
    PagerFile file(dir, "bad.strg", PageSize, 4);
    EXPECT_FALSE(loadImage(file, std::string(4096, '\0')).isValid());
    EXPECT_FALSE(loadImage(file, bigEndianImage(5, PageSize)).isValid());
    EXPECT_FALSE(loadImage(file, bigEndianImage(4, 6000)).isValid());
    EXPECT_FALSE(loadImage(file, bigEndianImage(4, 0)).isValid());
    EXPECT_FALSE(loadImage(file, bigEndianImage(4, 0x80000000u)).isValid());  // not addressable
    EXPECT_FALSE(file.superBlock.isAbleTo(TarsilAbility::Journaling));

    std::string huge = bigEndianImage(4, PageSize);
    std::memset(huge.data() + 0x208, 0xFF, 4);  // trackCount far beyond the block
    SuperBlock& sb = loadImage(file, huge);
    EXPECT_FALSE(sb.isValid());
    TrackListItem item;
    EXPECT_FALSE(sb.findTrack(PageType::Media, item));  // bounded scan, no overrun

    std::string little = bigEndianImage(4, PageSize);
    little[0x03F] = 1;  // 00 00 00 01: any nonzero value means little-endian
    EXPECT_EQ(loadImage(file, little).byteOrder(), 2);
}

TEST(SuperBlock, AbilitiesFollowVersionAndLegacyCopyBWinsWhenNewer) {
    TempDir dir;
    PagerFile file(dir, "v2.strg", PageSize, 4);
    std::string image = bigEndianImage(2, PageSize);
    // Copy B (0x900) with sequence 7 and a MDEA track; copy A keeps sequence 5.
    image[0x207] = 5;
    image[0x907] = 7;
    image[0x90B] = 1;
    std::memcpy(image.data() + 0x910, "MDEA", 4);
    image[0x91B] = 9;
    SuperBlock& sb = loadImage(file, image);
    ASSERT_TRUE(sb.isValid());
    EXPECT_TRUE(sb.isAbleTo(TarsilAbility::TimeStamp));
    EXPECT_FALSE(sb.isAbleTo(TarsilAbility::Log));
    EXPECT_FALSE(sb.isAbleTo(TarsilAbility::SingleTrackList));
    EXPECT_FALSE(sb.isAbleTo(7));
    EXPECT_EQ(sb.trackCount(), 1u);
    EXPECT_TRUE(sb.hasTrack(PageType::Media));
    EXPECT_FALSE(sb.hasTrack(PageType::FreePageList));
    EXPECT_EQ(sb.lastPageOf(PageType::Media), 0u);

    image[0x907] = 4;  // copy B older: copy A stays
    EXPECT_TRUE(loadImage(file, image).hasTrack(PageType::FreePageList));
}

TEST(SuperBlock, TrackListEditsKeepOrderAndWriteOnlyRealChanges) {
    TempDir dir;
    PagerFile file(dir, "t.strg", PageSize, 4);
    file.format(PageSize);
    SuperBlock& sb = file.superBlock;
    sb.save();
    sb.registerTrack(PageType::Timeline, BitMask32(0xFFFFFFFF), 2, 22);
    sb.registerTrack(PageType::Media, BitMask32(0xFFFFFFFF), 3, 33);
    sb.registerTrack(PageType::Event, BitMask32(0xFFFFFFFF), 4, 44);
    sb.save();
    EXPECT_FALSE(sb.isDirty());

    sb.setTrackLast(PageType::Media, 3, 33);
    EXPECT_FALSE(sb.isDirty());
    EXPECT_FALSE(sb.setTrackFirst(PageType::Log, 9, 99));
    EXPECT_FALSE(sb.isDirty());
    sb.removeTrack(PageType::Info);
    EXPECT_FALSE(sb.isDirty());

    sb.removeTrack(PageType::Media);
    ASSERT_EQ(sb.trackCount(), 2u);
    TrackListItem first, second;
    sb.trackAt(0, first);
    sb.trackAt(1, second);
    EXPECT_TRUE(first.type().equals(PageType::Timeline));
    EXPECT_TRUE(second.type().equals(PageType::Event));
    EXPECT_EQ(second.lastPageChecksum(), 44u);

    sb.setTrackLast(PageType::Journal, 5, 55);  // absent: appended
    sb.setTrackLast(PageType::Event, 6, 66);
    TrackListItem event;
    sb.findTrack(PageType::Event, event);
    EXPECT_EQ(event.firstPage(), 4u);
    EXPECT_EQ(event.lastPage(), 6u);
    EXPECT_EQ(sb.lastPageOf(PageType::Journal), 5u);
}

TEST(SuperBlock, SaveHeaderWritesOneBlockOnlyWhenChanged) {
    TempDir dir;
    PagerFile file(dir, "h.strg", PageSize, 4);
    file.format(PageSize);
    file.superBlock.save();
    PlanScope scope;
    file.superBlock.saveHeader();
    EXPECT_EQ(scope.plan.writeCount(), 0u);
    file.superBlock.setTimeStamp(DateTime(2020, 1, 2, 3, 4, 5), 77);
    file.superBlock.saveHeader();
    EXPECT_EQ(scope.plan.writeCount(), 1u);
    file.superBlock.save();
    EXPECT_EQ(scope.plan.writeCount(), 2u);
    file.superBlock.save();
    EXPECT_EQ(scope.plan.writeCount(), 2u);
}

TEST(SuperBlock, DescriptionKeepsThirtyOneCharacters) {
    TempDir dir;
    PagerFile file(dir, "d.strg", PageSize, 4);
    file.superBlock.load(file.readHandle, file.writeHandle, 0, 512);
    FormatOptions options;
    options.pageSize = PageSize;
    options.description = std::string(40, 'x');
    file.superBlock.format(options, 4, 1);
    EXPECT_EQ(std::string(file.superBlock.description()), std::string(31, 'x'));
    EXPECT_EQ(file.superBlock.image()[0x050 + 31], 0);
}

TEST(SuperBlock, FormattedStorageReadsBackIdenticalInAnotherProcess) {
    TempDir dir;
    std::string path;
    std::string image;
    {
        PagerFile file(dir, "p.strg", PageSize, 100);
        path = file.path;
        file.format(PageSize);
        FixedSizeFreePageAllocator allocator;
        allocator.format(file.superBlock, file.cache);
        allocator.extract(50);
        allocator.appendInterval(50, 50);
        allocator.extract(7);
        allocator.flush();
        file.superBlock.save();
        image.assign(reinterpret_cast<const char*>(file.superBlock.image()), 4096);
    }
    // A fresh process: nothing in memory but what is on disk.
    ChildProcess child([&] {
        int failures = 0;
        PagerFile file(path);
        file.load();
        failures += !file.superBlock.isValid();
        failures += std::memcmp(file.superBlock.image(), image.data(), 4096) != 0;
        failures += file.superBlock.pageCount() != 100;
        FixedSizeFreePageAllocator allocator;
        allocator.init(file.superBlock, file.cache, true);
        const auto& intervals = allocator.list().intervals();
        failures += intervals.size() != 2;
        failures += !(intervals.size() == 2 && intervals[0] == FreePageListItem(2, 6) &&
                      intervals[1] == FreePageListItem(8, 100));
        failures += allocator.freePageCount() != 98;
        return failures;
    });
    EXPECT_EQ(child.wait(), 0) << "the other process found another storage, or did not finish in time";
}

TEST(SuperBlock, DeclaredGeometryMustFitTheFileAndASaneBound) {
    TempDir dir;
    PagerFile file(dir, "g.strg", PageSize, 4);  // 8192 + 4 pages of 64 KiB
    // One flipped bit in a 512 KiB page size: 1 GiB + 512 KiB, 16.5 MiB, 1.5 MiB.
    EXPECT_FALSE(loadImage(file, bigEndianImage(4, 0x40080000u)).isValid());
    EXPECT_FALSE(loadImage(file, bigEndianImage(4, 0x01080000u)).isValid());
    EXPECT_FALSE(loadImage(file, bigEndianImage(4, 0x00180000u)).isValid());  // larger than the file
    std::string overlapping = bigEndianImage(4, PageSize);
    overlapping[0x042] = 0x02;  // firstPageOffset 512: page 1 would overwrite the superblock
    overlapping[0x043] = 0x00;
    EXPECT_FALSE(loadImage(file, overlapping).isValid());

    // A file that could hold such a page: the bound alone refuses it.
    std::string bigPath = dir.file("big.strg");
    uint32_t tooLarge = TarsilFormat::MaxPageSize + 4096;
    File::create(bigPath.c_str(), 0);
    truncateFile(bigPath, 8192 + 2 * tooLarge);  // sparse: nothing is written
    PagerFile large(bigPath);
    EXPECT_FALSE(loadImage(large, bigEndianImage(4, tooLarge)).isValid());
    EXPECT_TRUE(loadImage(large, bigEndianImage(4, TarsilFormat::MaxPageSize)).isValid());

    // A truncated storage: readable, but its pages do not all fit.
    SuperBlock& truncated = loadImage(file, bigEndianImage(4, PageSize));  // declares 300 pages
    EXPECT_TRUE(truncated.isValid());
    EXPECT_FALSE(truncated.fitsFile());
    file.format(PageSize);
    EXPECT_TRUE(file.superBlock.fitsFile());
}

TEST(SuperBlock, FormatRefusesPageSizesAndCountsTheDeviceAndFileCannotCarry) {
    TempDir dir;
    PagerFile file(dir, "f.strg", PageSize, 4);
    auto refusedWith = [&](uint32_t ioBlock, uint32_t pageSize, uint32_t pageCount) {
        file.superBlock.load(file.readHandle, file.writeHandle, 0, ioBlock);
        FormatOptions options;
        options.pageSize = pageSize;
        try {
            file.superBlock.format(options, pageCount, 1);
        } catch (const TarsilException& e) {
            EXPECT_FALSE(file.superBlock.isValid()) << "a refused format changed the image";
            return e.errorCode();
        }
        return 0;
    };
    EXPECT_EQ(refusedWith(512, 6000, 4), 3);
    EXPECT_EQ(refusedWith(512, 0, 4), 3);
    EXPECT_EQ(refusedWith(512, 2048, 4), 3);                         // not whole 4096s
    EXPECT_EQ(refusedWith(4096, 16384, 4), 3);                       // four I/O blocks
    EXPECT_EQ(refusedWith(512, TarsilFormat::MaxPageSize * 2, 1), 3);
    EXPECT_EQ(refusedWith(512, PageSize, 5), 1);                     // one page more than the file holds
    EXPECT_EQ(refusedWith(512, PageSize, 0), 1);
    EXPECT_EQ(refusedWith(512, 4096, 64), 0);                        // eight 512-byte blocks
    EXPECT_EQ(refusedWith(4096, 32768, 8), 0);
    EXPECT_EQ(refusedWith(512, PageSize, 4), 0);
    EXPECT_TRUE(file.superBlock.isValid());
}

TEST(SuperBlock, SetTrackLastWritesAChangeOfPageOrChecksumAlone) {
    TempDir dir;
    PagerFile file(dir, "l.strg", PageSize, 4);
    file.format(PageSize);
    SuperBlock& sb = file.superBlock;
    sb.registerTrack(PageType::Media, BitMask32(0xFFFFFFFF), 3, 33);
    sb.save();

    sb.setTrackLast(PageType::Media, 3, 34);  // the page was re-initialised in place
    EXPECT_TRUE(sb.isDirty());
    sb.save();
    sb.setTrackLast(PageType::Media, 4, 34);  // same checksum, another page
    EXPECT_TRUE(sb.isDirty());
    sb.save();
    file.close();

    PagerFile reopened(file.path);
    reopened.load();
    TrackListItem media;
    ASSERT_TRUE(reopened.superBlock.findTrack(PageType::Media, media));
    EXPECT_EQ(media.lastPage(), 4u);
    EXPECT_EQ(media.lastPageChecksum(), 34u);
    EXPECT_EQ(media.firstPage(), 3u);
    EXPECT_EQ(media.firstPageChecksum(), 33u);
    EXPECT_EQ(media.flags().value(), 0xFFFFFFFFu);
}

TEST(SuperBlock, FormattedTrackListNeverReachesTheDiskBeforeTheListPage) {
    // List page format, superblock save, and the barrier that ends the format.
    uint32_t cuts = sweepPowerCuts("format ordering", 10, true, [](Cut& cut) {
        TempDir dir;
        std::string path;
        uint32_t checksum = 0;
        uint32_t listChecksum = 0;
        {
            PagerFile file(dir, "o.strg", 4096, 64);
            path = file.path;
            cut.arm();
            file.format(4096);
            FixedSizeFreePageAllocator allocator;
            allocator.format(file.superBlock, file.cache);
            file.superBlock.save();
            AIOContext::instance().barrier(file.writeHandle);
            checksum = file.superBlock.checksum();
            listChecksum = allocator.page()->checksum();
        }
        if (!cut.powerWasCut()) {
            return;
        }
        PagerFile after(path);
        after.load();
        // A superblock that did not reach the disk, or reached it torn without its track
        // list, leaves a storage to format again. One that names the list page must find
        // it whole.
        TrackListItem free;
        if (!after.superBlock.isValid() || !after.superBlock.findTrack(PageType::FreePageList, free) ||
            free.lastPage() != 1 || free.lastPageChecksum() != listChecksum) {
            return;
        }
        ASSERT_EQ(after.superBlock.checksum(), checksum);
        FixedSizeFreePageAllocator allocator;
        try {
            allocator.init(after.superBlock, after.cache, true);
        } catch (const TarsilException&) {
            ADD_FAILURE() << "the superblock names a list page that is not on disk; cut at " << cut.describe();
            return;
        }
        EXPECT_EQ(allocator.freePageCount(), 63u);
    });
    EXPECT_GE(cuts, 6u * 10);
}
