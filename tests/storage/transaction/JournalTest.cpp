#include <gtest/gtest.h>

#include <random>

#include "StorageFixture.h"
#include "base/TarsilException.h"
#include "base/TextOf.h"
#include "storage/pager/FreePageList.h"
#include "storage/transaction/AppendFreePageIntervalTransactionLog.h"
#include "storage/transaction/ChangePageLinkTransactionLog.h"
#include "storage/transaction/DeleteTrackTransactionLog.h"
#include "storage/transaction/ExtractFreePageTransactionLog.h"
#include "storage/transaction/FlushPageTransactionLog.h"
#include "storage/transaction/JournalFormat.h"
#include "storage/transaction/OverwriteTransaction.h"
#include "storage/transaction/PageFlushTransaction.h"
#include "storage/transaction/PageJoinTransaction.h"
#include "storage/transaction/UpdateTrackLastTransactionLog.h"

namespace {

// A new page of `type` taken from the free list, not yet joined.
struct NewPage {
    Page page;
    NewPage(Storage& storage, const PageType& type) : page(storage.superBlock(), storage.pageCache()) {
        uint32_t number = storage.findNextWritablePageNumber(type);
        page.init(type, number, 64, 0, 0);
        EventElement e = eventWithID(7);
        e.appendHeader(page.buffer());
        page.setItemCount(1);
        page.setFirstItemID(7);
        page.setLastItemID(7);
    }
};

// Runs the first `applied` records of a page-join transaction and leaves the journal
// full, as a crash after them would.
void journalAndApply(FixedSizeFileStorage& storage, Page& page, size_t applied) {
    PageFlushTransaction transaction(storage, page);
    ITransactionHandler* handler = storage.transactionHandler();
    handler->clear();
    for (const auto& record : transaction.records()) {
        handler->add(record.get());
    }
    handler->writeJournal();
    for (size_t i = 0; i < applied; ++i) {
        transaction.records()[i]->apply();
    }
    handler->clear();
}

}  // namespace

TEST(Journal, PageJoinRecordsLieAt128And134And156) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    TestStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    NewPage fresh(storage, PageType::Media);
    journalAndApply(storage, fresh.page, 0);
    Page* journal = storage.journalingHandler().journal();
    EXPECT_EQ(journal->itemCount(), 3u);
    EXPECT_EQ(journal->firstItemOffset(), 128u);
    EXPECT_EQ(journal->lastItemOffset(), 156u);
    Buffer& b = journal->buffer();
    EXPECT_EQ(b.getShortAt(128), JournalFormat::ExtractFreePage);
    EXPECT_EQ(b.getShortAt(134), JournalFormat::UpdateTrackLast);
    EXPECT_EQ(b.getShortAt(156), JournalFormat::FlushPage);
    auto update = TransactionLog::read(storage, b, 134, 16384);
    ASSERT_TRUE(update);
    EXPECT_EQ(update->serializedSize(), 22);
    EXPECT_EQ(textOf(*update), "UpdateTrackLast MDEA " + std::to_string(fresh.page.pageNumber()) + ":" +
                                   std::to_string(fresh.page.checksum()) + ", prev 0:0");
    auto flush = TransactionLog::read(storage, b, 156, 16384);
    EXPECT_EQ(flush->serializedSize(), 134);
    EXPECT_EQ(textOf(*flush), "FlushPage " + std::to_string(fresh.page.pageNumber()));
    // A record that would run past the page, and type 9, end decoding.
    EXPECT_FALSE(TransactionLog::read(storage, b, 16384 - 100, 16384));
    b.putShortAt(200, 9);
    EXPECT_FALSE(TransactionLog::read(storage, b, 200, 16384));
    storage.close(false);
}

TEST(Journal, ReplayUndoesAnAppliedPrefixAndLogsEachStep) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    uint32_t number = 0;
    {
        TestStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        NewPage fresh(storage, PageType::Media);
        number = fresh.page.pageNumber();
        journalAndApply(storage, fresh.page, 1);  // extracted, track list not yet saved
        storage.close(false);
    }
    TestStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    std::string log = logText(storage);
    EXPECT_NE(log.find("[JOURNAL] Fail: UpdateTrackLast MDEA " + std::to_string(number)), std::string::npos)
        << log;
    EXPECT_NE(log.find("ROLLBACK: ExtractFreePage " + std::to_string(number)), std::string::npos) << log;
    EXPECT_TRUE(storage.allocator().consumable(number));
    EXPECT_FALSE(storage.superBlock().hasTrack(PageType::Media));
    EXPECT_TRUE(storage.transactionHandler()->isJournalEmpty());
    EXPECT_EQ(inconsistencies(storage), "");
    storage.close(true);
}

TEST(Journal, ReplayOfACompleteChangeUndoesNothing) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    uint32_t number = 0;
    {
        TestStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        NewPage fresh(storage, PageType::Media);
        number = fresh.page.pageNumber();
        journalAndApply(storage, fresh.page, 3);
        storage.close(false);
    }
    TestStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    EXPECT_TRUE(logHas(storage, "[JOURNAL] All transaction succeeds except clear log. (commited)"));
    EXPECT_FALSE(logHas(storage, "ROLLBACK: "));
    EXPECT_EQ(pagesOf(storage, PageType::Media), std::vector<uint32_t>{number});
    EXPECT_EQ(inconsistencies(storage), "");
    storage.close(true);
}

TEST(Journal, ReplayOfAnUnstartedChangeOnlyEmptiesTheJournal) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    {
        TestStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        NewPage fresh(storage, PageType::Media);
        journalAndApply(storage, fresh.page, 0);
        storage.close(false);
    }
    {
        // A read-only open replays nothing and refuses a storage with a full journal.
        ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
        TestStorage readOnly;
        EXPECT_FALSE(readOnly.open(path.c_str()));
        EXPECT_TRUE(readOnly.isBroken());
        readOnly.close(false);
        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    }
    TestStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    EXPECT_TRUE(logHas(storage, "[JOURNAL] All transaction failed. Just cleanup journal."));
    EXPECT_EQ(inconsistencies(storage), "");
    storage.close(true);
}

// Two batches of page joins of one track, the second journaled with the first carried
// along (no barrier made the first durable in between): once both reached the disk the
// journal holds a finished change. Replay keeps it, and a reader accepts the file.
TEST(Journal, CarriedPageJoinsOfOneTrackThatReachedTheDiskAreKeptAndReadable) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    std::vector<uint32_t> pages;
    {
        TestStorage storage({&PageType::Event});
        ASSERT_TRUE(storage.open(path.c_str()));
        writeIDs(storage, PageType::Event, 1, PerPage * 2 + 1);
        storage.joinPendingPages();
        std::vector<uint32_t> first = pagesOf(storage, PageType::Event);
        writeIDs(storage, PageType::Event, PerPage * 2 + 2, PerPage * 4 + 1);
        storage.joinPendingPages();
        pages = pagesOf(storage, PageType::Event);
        ASSERT_EQ(first.size(), 2u);
        ASSERT_EQ(pages.size(), 4u);
        // Each batch: an extract per page and the track end moved (from nothing, the first
        // batch moves it twice); the second journal holds both.
        EXPECT_EQ(storage.journalingHandler().journal()->itemCount(), 4u + 3u);
        storage.close(false);  // no flush: the journal stays as the last join left it
    }
    {
        ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
        TestStorage reader({&PageType::Event});
        EXPECT_TRUE(reader.open(path.c_str()));
        for (const std::string& finding : reader.openFindings()) {
            // (The last page links to the page that was still in memory: a live file's end.)
            EXPECT_EQ(finding.find("journal"), std::string::npos) << finding;
        }
        EXPECT_EQ(pagesOf(reader, PageType::Event), pages);
        reader.close(false);
        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    }
    TestStorage storage({&PageType::Event});
    ASSERT_TRUE(storage.open(path.c_str()));
    EXPECT_TRUE(logHas(storage, "[JOURNAL] All transaction succeeds except clear log. (commited)"))
        << logText(storage);
    EXPECT_FALSE(logHas(storage, "ROLLBACK: "));
    EXPECT_EQ(pagesOf(storage, PageType::Event), pages);
    EXPECT_EQ(inconsistencies(storage), "");
    storage.close(true);
}

// Two batches of page joins, the second journaled with the first carried along, and the
// power goes before a barrier covers the second one's writes: the track-list write reached
// the disk, the free-list write did not. Replay asks each record again after undoing the
// later ones, so the track end moves back over both batches (the first had not been
// flushed) and every page of them is free again.
TEST(Journal, ReplayUndoesCarriedPageJoinsMostRecentFirst) {
    TempDir dir;
    std::string base = formattedStorage(dir, "base.strg");
    std::string work = dir.file("work.strg");
    std::vector<uint32_t> before;
    {
        TestStorage storage;
        ASSERT_TRUE(storage.open(base.c_str()));
        writeIDs(storage, PageType::Timeline, 1, PerPage + 1);
        storage.flush();
        before = pagesOf(storage, PageType::Timeline);
        storage.close(true);
    }
    bool found = false;
    for (uint32_t seed = 1; seed <= 200 && !found; ++seed) {
        copyFile(base, work);
        uint32_t listPage = 0;
        {
            TestStorage storage;
            ASSERT_TRUE(storage.open(work.c_str()));
            PlanScope scope;
            // Each page is written when the next one begins: one page per batch.
            writeIDs(storage, PageType::Timeline, PerPage + 2, PerPage * 3 + 1);
            storage.joinPendingPages();
            writeIDs(storage, PageType::Timeline, PerPage * 3 + 2, PerPage * 4 + 1);
            storage.joinPendingPages();
            TrackListItem list;
            ASSERT_TRUE(storage.superBlock().findTrack(PageType::FreePageList, list));
            listPage = list.lastPage();
            // The flush's first write (a page) never happens: the power goes there.
            scope.plan.cutPowerAtWrite(scope.plan.writeCount() + 1, seed);
            try {
                storage.flush();
            } catch (const Exception&) {
            }
            ASSERT_TRUE(scope.plan.powerIsCut());
            bool trackListKept = false;
            bool freeListKept = true;
            for (const FaultPlan::Outcome& o : scope.plan.outcomes()) {
                if (o.offset == 0) {
                    trackListKept = o.keptBytes == o.length;
                } else if (o.offset == storage.superBlock().pageOffset(listPage)) {
                    freeListKept = o.keptBytes > 0;
                }
            }
            found = trackListKept && !freeListKept;
            storage.close(false);
        }
        if (!found) {
            continue;
        }
        TestStorage storage;
        ASSERT_TRUE(storage.open(work.c_str()));
        std::string log = logText(storage);
        EXPECT_NE(log.find("[JOURNAL] Fail: ExtractFreePage"), std::string::npos) << log;
        size_t later = log.find("ROLLBACK: UpdateTrackLast TIML");
        ASSERT_NE(later, std::string::npos) << log;
        EXPECT_NE(log.find("ROLLBACK: UpdateTrackLast TIML", later + 1), std::string::npos) << log;
        EXPECT_EQ(pagesOf(storage, PageType::Timeline), before);
        EXPECT_EQ(inconsistencies(storage), "");
        storage.close(true);
    }
    EXPECT_TRUE(found) << "no seed kept the track-list write and dropped the free-list write";
}

TEST(JournalRecords, FreeListAndTrackRecordsTestTheirOwnEffect) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    TestStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    FixedSizeFreePageAllocator& allocator = storage.allocator();
    // A page no longer in the in-memory list counts as extracted; undoing gives it back.
    uint32_t taken = allocator.takeFirst();
    ExtractFreePageTransactionLog extract(storage, taken);
    EXPECT_TRUE(extract.isApplied());
    extract.rollback();
    EXPECT_TRUE(allocator.consumable(taken));
    // An interval with one page missing from the list page is not applied.
    allocator.extract(11);
    AppendFreePageIntervalTransactionLog interval(storage, 10, 12);
    EXPECT_FALSE(interval.isApplied());
    allocator.extract(10);
    allocator.extract(12);
    interval.apply();
    EXPECT_TRUE(interval.isApplied());
    EXPECT_EQ(textOf(interval), "AppendFreePageInterval 10~12");
    // An interval read from a damaged journal never walks outside the file.
    AppendFreePageIntervalTransactionLog garbage(storage, 1, 0xFFFFFFFF);
    EXPECT_FALSE(garbage.isApplied());
    garbage.rollback();
    // An UpdateTrackLast of a new track records old page 0 and undoing it removes it.
    UpdateTrackLastTransactionLog update(storage, PageType::Event, 20, 1234);
    EXPECT_EQ(update.oldPage(), 0u);
    update.apply();
    EXPECT_TRUE(update.isApplied());
    storage.updateTrackLast(PageType::Event, 20, 1234);
    update.rollback();
    EXPECT_FALSE(storage.superBlock().hasTrack(PageType::Event));
    EXPECT_FALSE(storage.hasTrack(PageType::Event));
    DeleteTrackTransactionLog remove(storage, PageType::Event);
    EXPECT_TRUE(remove.isApplied());
    EXPECT_EQ(textOf(remove), "RemoveTrack EVNT");
    storage.close(false);
}

TEST(JournalRecords, UnreadablePageIsClearedAndNotApplied) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    TestStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    NewPage fresh(storage, PageType::Media);
    FlushPageTransactionLog record(storage, fresh.page, false, false);
    std::string bytes(200, '\0');
    Buffer buffer(bytes.data(), 200, storage.superBlock().pageByteOrder());
    record.writeTo(buffer, 0);
    {
        PlanScope scope;
        scope.plan.failRead(1, EIO);
        EXPECT_FALSE(record.isApplied());
    }
    EXPECT_TRUE(logHas(storage, "[TRANSACTION] page header load fail (")) << logText(storage);
    Page page(storage.superBlock(), storage.pageCache());
    page.loadHeaderForWrite(fresh.page.pageNumber());
    EXPECT_TRUE(page.type().equals(PageType::Null));
    EXPECT_EQ(page.checksum(), 0u);
    page.reset();
    storage.close(false);
}

TEST(JournalRecords, ChangePageLinkRollbackJoinsTheNeighboursAndRenewsTheChecksum) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    TestStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    SuperBlock& sb = storage.superBlock();
    Page a(sb, storage.pageCache()), b(sb, storage.pageCache()), c(sb, storage.pageCache());
    a.init(PageType::Event, 30, 64, 0, 0);
    b.init(PageType::Event, 31, 64, 30, a.checksum());
    c.init(PageType::Event, 32, 64, 31, b.checksum());
    a.setNext(31);
    a.setNextChecksum(b.checksum());
    b.setNext(32);
    b.setNextChecksum(c.checksum());
    ChangePageLinkTransactionLog link(storage, &a, b, &c);
    std::string bytes(200, '\0');
    Buffer buffer(bytes.data(), 200, sb.pageByteOrder());
    link.writeTo(buffer, 0);
    EXPECT_EQ(link.serializedSize(), 158);
    a.save();
    c.save();
    link.apply();
    EXPECT_TRUE(link.isApplied());
    uint32_t oldChecksum = b.checksum();
    a.reset();
    b.reset();
    c.reset();
    auto decoded = TransactionLog::read(storage, buffer, 0, 200);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(textOf(*decoded), "ChangePageLinkTransactionLog pre(30), cur(31), next(32)");
    decoded->rollback();
    a.loadForRead(30);
    c.loadForRead(32);
    b.loadForRead(31);
    EXPECT_EQ(a.next(), 32u);
    EXPECT_EQ(a.nextChecksum(), c.checksum());
    EXPECT_EQ(c.previous(), 30u);
    EXPECT_EQ(c.previousChecksum(), a.checksum());
    EXPECT_NE(b.checksum(), oldChecksum);
    // A neighbour of another type stops the rollback with a message naming the pages.
    a.reset();
    Page other(sb, storage.pageCache());
    other.init(PageType::Media, 30, 64, 0, 0);
    other.save();
    other.reset();
    try {
        decoded->rollback();
        FAIL() << "a neighbour of another type was accepted";
    } catch (const SystemException& e) {
        EXPECT_STREQ(
            e.message(),
            "ChangePageLinkTransactionLog rollback prev/next page type diff pre(30), cur(31), next(32)");
    }
    storage.close(false);
}

TEST(JournalHostile, GarbageJournalNeverCrashesOrHangsTheOpen) {
    TempDir dir;
    std::string clean = formattedStorage(dir, "clean.strg");
    std::string path = dir.file("hostile.strg");
    std::mt19937 random(20240501);
    uint64_t journalOffset = 4096 + uint64_t(TestPageSize) * (2 - 1);
    int opened = 0, refused = 0;
    for (int round = 0; round < 60; ++round) {
        copyFile(clean, path);
        std::string header = readBytes(path, journalOffset, 128);
        std::string data(TestPageSize - 128, '\0');
        for (char& c : data) {
            c = static_cast<char>(random());
        }
        // Plausible record types with random payloads, then random counts and offsets.
        for (int at = 0; at + 2 < 600; at += 2 + static_cast<int>(random() % 40)) {
            data[at] = 0;
            data[at + 1] = static_cast<char>(1 + random() % 9);
        }
        auto put = [&](int offset, uint32_t value) {
            for (int i = 0; i < 4; ++i) {
                header[offset + i] = static_cast<char>(value >> (8 * i));  // little-endian pages
            }
        };
        put(0x14, round % 3 == 0 ? 0xFFFFFFFF : random() % 200);
        put(0x18, round % 4 == 0 ? random() : 128);
        writeBytes(path, journalOffset, header + data);
        TestStorage storage;
        try {
            bool ok = storage.open(path.c_str());
            ok ? ++opened : ++refused;
            if (ok) {
                EXPECT_TRUE(storage.transactionHandler()->isJournalEmpty());
            }
        } catch (const TarsilException& e) {
            EXPECT_EQ(e.errorCode(), 4);
            ++refused;
        } catch (const SystemException&) {
            ++refused;  // a rollback that met a page of another type
        }
        storage.close(false);
    }
    std::printf("hostile journals: %d opened, %d refused\n", opened, refused);
    EXPECT_EQ(opened + refused, 60);
}

TEST(JournalHostile, TrackListNamingPagesBeyondTheFileIsCorruption) {
    TempDir dir;
    std::string clean = formattedStorage(dir, "clean.strg");
    std::string path = dir.file("hostile.strg");
    for (const PageType* type : {&PageType::Journal, &PageType::FreePageList, &PageType::Log}) {
        copyFile(clean, path);
        {
            PagerFile file(path);
            file.load();
            TrackListItem item;
            ASSERT_TRUE(file.superBlock.findTrack(*type, item));
            item.setFirst(5000, item.firstPageChecksum());
            item.setLast(5000, item.lastPageChecksum());
            file.superBlock.putTrack(item);
            file.superBlock.save();
        }
        TestStorage storage;
        try {
            bool ok = storage.open(path.c_str());
            // A log page outside the file starts a new log.
            EXPECT_TRUE(!ok || type->equals(PageType::Log)) << textOf(*type);
        } catch (const TarsilException& e) {
            EXPECT_EQ(e.errorCode(), 4) << textOf(*type);
        }
        storage.close(false);
    }
    // A page size the file cannot hold.
    copyFile(clean, path);
    writeBytes(path, 0x034, std::string("\x00\x10\x00\x00", 4));
    TestStorage storage;
    EXPECT_FALSE(storage.open(path.c_str()));
    storage.close(false);
}

TEST(Journal, EmptyTransactionWritesNothing) {
    TempDir dir;
    std::string path = formattedStorage(dir, "a.strg");
    TestStorage storage;
    ASSERT_TRUE(storage.open(path.c_str()));
    Page page(storage.superBlock(), storage.pageCache());
    page.init(PageType::Timeline, 40, 64, 0, 0);
    FreePageList none;
    OverwriteTransaction transaction(storage, none, page, false, false);
    EXPECT_TRUE(transaction.records().empty());
    PlanScope scope;
    transaction.commit();
    EXPECT_EQ(scope.plan.writeCount(), 0u);
    EXPECT_EQ(scope.plan.barrierCount(), 0u);
    page.reset();
    storage.close(false);
}
