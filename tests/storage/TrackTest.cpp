#include <gtest/gtest.h>

#include "TrackFixture.h"
#include "base/TarsilException.h"
#include "storage/MediaTrackIterator.h"
#include "storage/StorageUtility.h"
#include "storage/TrackIterator.h"

namespace {

const DateTime T0(2024, 5, 1, 10, 0, 0);

// Writes `count` events with IDs from `first` into the event-typed test track.
void writeEvents(Storage& storage, uint64_t first, uint64_t count) {
    writeIDs(storage, PageType::Timeline, first, first + count - 1);
}

}  // namespace

TEST(TrackReading, CursorAndCallerFormsWalkBothWaysAcrossPagesAndSeeAppendsAtTheEnd) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    TestStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    writeEvents(storage, 1, PerPage * 2 + 3);
    Track& track = *storage.track(PageType::Timeline);
    StorageUtility utility(storage);
    PagePosition first = utility.firstPosition(PageType::Timeline);
    ASSERT_TRUE(track.seek(first));
    EventElement e;
    ASSERT_TRUE(track.read(e));
    uint64_t expected = 1;
    EXPECT_EQ(e.mediaID(), expected);
    while (track.next(e)) {
        EXPECT_EQ(e.mediaID(), ++expected);
    }
    EXPECT_EQ(expected, PerPage * 2 + 3);
    // The writer appends: the reader at the end sees it on its next step.
    writeEvents(storage, expected + 1, 1);
    ASSERT_TRUE(track.next(e));
    EXPECT_EQ(e.mediaID(), ++expected);
    while (track.previous(e)) {
        --expected;
    }
    EXPECT_EQ(e.mediaID(), 1u);
    EXPECT_EQ(expected, 1u);
    // A caller's page and position, on another thread's page object.
    Page page(storage.superBlock(), storage.pageCache());
    PagePosition at = utility.lastPosition(PageType::Timeline);
    ASSERT_TRUE(track.read(page, at, e));
    uint64_t count = 1;
    while (track.previous(page, at, e)) {
        ++count;
    }
    EXPECT_EQ(count, PerPage * 2 + 4);
    EXPECT_FALSE(track.seek(PagePosition(at.number, at.offset + 1)));  // off the item grid
    EXPECT_FALSE(track.seek(PagePosition(storage.pageCount() + 5, 128)));
    storage.close(true);
}

TEST(TrackReading, NextAcrossAPageFreedAndReusedByAnotherTrackReportsOverwritten) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg", 6);
    TestStorage storage({&PageType::Timeline, &PageType::Event});
    ASSERT_TRUE(storage.open(path.c_str()));
    writeEvents(storage, 1, PerPage * 3);
    storage.flush();
    Track& track = *storage.track(PageType::Timeline);
    Page reader(storage.superBlock(), storage.pageCache());
    PagePosition at = StorageUtility(storage).firstPosition(PageType::Timeline);
    at.offset += uint32_t((PerPage - 1) * 64);  // the first page's last element
    EventElement e;
    ASSERT_TRUE(track.read(reader, at, e));
    // The first two pages go; the event track takes one of them.
    track.overwrite(PerPage * 2 + 1);
    writeIDs(storage, PageType::Event, 1, PerPage + 1);
    storage.flush();
    EXPECT_FALSE(track.next(reader, at, e));
    storage.flush();  // the writer stores what readers logged
    EXPECT_TRUE(logHas(storage, "Track::next() FAILED. OVERWRITTEN")) << logText(storage);
    storage.close(true);
}

TEST(TrackReading, DamagedPagesAreReportedAsInvalidPositionsNeverReadOutside) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg");
    std::vector<uint8_t> payload = payloadOf(1, 3000);
    PagePosition firstFrame;
    uint32_t secondPage = 0;
    {
        FixedSizeFileStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        for (int i = 0; i < 12; ++i) {
            MediaElement frame = videoFrame(1, 1, static_cast<uint16_t>(i), T0, payload);
            PagePosition at = storage.writeMedia(frame);
            if (i == 0) {
                firstFrame = at;
            }
        }
        secondPage = storage.mediaTrack()->currentPage()->pageNumber();
        ASSERT_NE(secondPage, firstFrame.number);
        storage.close(true);
    }
    uint64_t pageOffset = 0;
    {
        FixedSizeFileStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        pageOffset = storage.superBlock().pageOffset(firstFrame.number);
        storage.close(false);
    }
    // A lying element length: the first frame claims a payload far past the page.
    std::string original = readBytes(path, pageOffset, TestPageSize);
    std::string lying = original;
    lying[firstFrame.offset + 12] = '\x7F';
    lying[firstFrame.offset + 13] = '\x7F';
    writeBytes(path, pageOffset, lying);
    {
        FixedSizeFileStorage storage;
        storage.setReadOnly(true);
        ASSERT_TRUE(storage.open(path.c_str()));
        MediaTrack* media = storage.mediaTrack();
        Page page(storage.superBlock(), storage.pageCache());
        PagePosition at = firstFrame;
        MediaElement e;
        ASSERT_TRUE(media->read(page, at, e));
        EXPECT_FALSE(media->next(page, at, e));
        MediaTrackIterator it(storage, PageType::Media);
        it.seek(firstFrame);
        it.next();
        EXPECT_FALSE(it.isValid());
        storage.close(false);
    }
    writeBytes(path, pageOffset, original);
    // A next link to a page of another track, and a checksum that does not match.
    for (int damage = 0; damage < 2; ++damage) {
        std::string linked = original;
        FixedSizeFileStorage probe;
        probe.setReadOnly(true);
        ASSERT_TRUE(probe.open(path.c_str()));
        TrackListItem log;
        ASSERT_TRUE(probe.findTrack(PageType::Log, log));
        probe.close(false);
        uint32_t value = damage == 0 ? log.lastPage() : secondPage;
        std::memcpy(&linked[0x0C], &value, 4);
        if (damage == 1) {
            linked[0x44] = static_cast<char>(linked[0x44] ^ 0x5A);
        }
        writeBytes(path, pageOffset, linked);
        FixedSizeFileStorage storage;
        storage.setReadOnly(true);
        ASSERT_TRUE(storage.open(path.c_str()));
        MediaTrack* media = storage.mediaTrack();
        Page page(storage.superBlock(), storage.pageCache());
        PagePosition at(firstFrame.number, 0);
        page.load(firstFrame.number, true);
        at.offset = page.lastItemOffset();
        uint32_t lastOffset = at.offset;
        MediaElement e;
        ASSERT_TRUE(media->read(page, at, e));
        EXPECT_FALSE(media->next(page, at, e)) << "damage " << damage;
        TrackIterator it(storage, PageType::Media);
        it.seek(PagePosition(firstFrame.number, lastOffset));
        EXPECT_TRUE(it.isValid());
        it.next();
        EXPECT_FALSE(it.isValid()) << "damage " << damage;
        storage.close(false);
    }
}

TEST(TrackWriting, PayloadSpillsIntoTheNextPageAndOversizeElementsAreRefusedBeforeAnyByte) {
    TempDir dir;
    std::string path = formattedRealStorage(dir, "a.strg");
    FixedSizeFileStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    MediaTrack* media = storage.mediaTrack();
    std::vector<uint8_t> small = payloadOf(1, 1000);
    MediaElement a = videoFrame(1, 1, 0, T0, small);
    storage.writeMedia(a);
    uint32_t free = media->freeBytes();
    std::vector<uint8_t> big = payloadOf(2, free - 64 + 5000);
    MediaElement b = videoFrame(1, 1, 1, T0, big);
    PagePosition at = storage.writeMedia(b);
    Page* tail = media->currentPage();
    EXPECT_NE(tail->pageNumber(), at.number);
    EXPECT_EQ(tail->itemCount(), 0u);
    EXPECT_EQ(tail->firstItemOffset(), 128u + 5000u);
    MediaElement header;
    std::vector<uint8_t> back;
    ASSERT_TRUE(readMedia(storage, at, header, back));
    EXPECT_EQ(back, big);
    // Next element after a spilled one begins after the tail.
    MediaElement c = videoFrame(1, 1, 2, T0, small);
    PagePosition cAt = storage.writeMedia(c);
    EXPECT_EQ(cAt, PagePosition(tail->pageNumber(), 128 + 5000));
    Page page(storage.superBlock(), storage.pageCache());
    PagePosition walk = at;
    MediaElement e;
    ASSERT_TRUE(media->read(page, walk, e));
    ASSERT_TRUE(media->next(page, walk, e));
    EXPECT_EQ(walk, cAt);
    EXPECT_EQ(e.mediaID(), c.mediaID());
    // Larger than a fresh page and the one after it: refused, nothing changes.
    uint32_t freePages = storage.freePageCount();
    uint64_t nextID = storage.nextItemID();
    uint32_t cursor = media->freeBytes();
    std::vector<uint8_t> huge = payloadOf(3, 2 * TestPageSize - 128 - 64 + 1);  // beyond two data areas
    MediaElement d = videoFrame(1, 1, 3, T0, huge);
    EXPECT_THROW(storage.writeMedia(d), TarsilException);
    EXPECT_EQ(storage.freePageCount(), freePages);
    EXPECT_EQ(storage.nextItemID(), nextID);
    EXPECT_EQ(media->freeBytes(), cursor);
    // One that would not end within the next page, but fits a fresh page and the next,
    // starts the fresh page (a large key frame is stored, not refused).
    uint32_t before = media->currentPage()->pageNumber();
    std::vector<uint8_t> large = payloadOf(4, cursor - 64 + (TestPageSize - 128) + 100);
    MediaElement f = videoFrame(1, 2, 0, T0, large);
    PagePosition fAt = storage.writeMedia(f);
    EXPECT_NE(fAt.number, before);
    EXPECT_EQ(fAt.offset, 128u);
    ASSERT_TRUE(readMedia(storage, fAt, header, back));
    EXPECT_EQ(back, large);
    storage.close(true);
}

TEST(TrackCutting, RemoveAfterRollbackAndOverwriteAtTheTrackEnds) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    TestStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    Track& track = *storage.track(PageType::Timeline);
    writeEvents(storage, 10, PerPage * 2);
    storage.flush();
    // Rolled back to before its first element, the track is gone.
    track.rollbackAfter(5);
    EXPECT_FALSE(storage.hasTrack(PageType::Timeline));
    EXPECT_TRUE(track.isEmpty());
    writeEvents(storage, 100, PerPage * 3);
    storage.flush();
    EXPECT_TRUE(track.overwrite(100 + PerPage * 3 + 1));
    EXPECT_FALSE(storage.hasTrack(PageType::Timeline));
    EXPECT_EQ(inconsistencies(storage), "");
    writeEvents(storage, 1000, 5);
    storage.flush();
    // Cut after an ID below every element: an empty page at the data start.
    track.rollbackAfter(999);
    EXPECT_FALSE(storage.hasTrack(PageType::Timeline));
    storage.close(true);
}

TEST(StorageUtilityLoad, PageOfAnEarlierFormatOrAnotherTrackIsCorrupted) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    TrackListItem item;
    {
        TestStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        writeEvents(storage, 1, 5);
        storage.close(true);
    }
    TestStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    ASSERT_TRUE(storage.findTrack(PageType::Timeline, item));
    storage.format(FormatOptions{UniqueID(), TestPageSize, "", RecorderType::Flac, BitMask32(), {}});
    StorageUtility utility(storage);
    Page page(storage.superBlock(), storage.pageCache());
    // The old timeline page still carries the earlier superblock's checksum.
    EXPECT_THROW(utility.loadPage(page, PageType::Timeline, item.lastPage(), item.lastPageChecksum(), true),
                 TarsilException);
    EXPECT_FALSE(page.isLoaded());
    storage.flush();
    EXPECT_TRUE(logHas(storage, "StorageUtility::loadPage")) << logText(storage);
    storage.close(true);
}
