#include "storage/transaction/JournalingTransactionHandler.h"

#include <cstdio>
#include <deque>

#include "base/SystemException.h"
#include "base/TarsilException.h"
#include "base/TextOf.h"
#include "storage/aio/AIOContext.h"
#include "storage/pager/IFreePageAllocator.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"
#include "storage/transaction/IJournaledStorage.h"
#include "storage/transaction/JournalFormat.h"
#include "storage/transaction/TransactionLog.h"

namespace {

constexpr int JournalLogLevel = 2;

// Keeps the storage log queued while the journal is in use, whatever leaves the scope.
class LogHold {
public:
    explicit LogHold(IJournaledStorage& storage) : _storage(storage) { _storage.holdLog(true); }
    ~LogHold() { _storage.holdLog(false); }
    LogHold(const LogHold&) = delete;
    LogHold& operator=(const LogHold&) = delete;

private:
    IJournaledStorage& _storage;
};

void journalLog(IJournaledStorage& storage, const char* prefix, const TransactionLog& record) {
    std::string line = prefix + textOf(record);
    storage.log(line.c_str(), JournalLogLevel, true);
}

}  // namespace

JournalingTransactionHandler::JournalingTransactionHandler() = default;

JournalingTransactionHandler::~JournalingTransactionHandler() = default;

void JournalingTransactionHandler::barrier() {
    AIOContext::instance().barrier(storage()->superBlock().writeHandle());
    _clearUnbarriered = false;
}

void JournalingTransactionHandler::init(IJournaledStorage& storage) {
    AbstractTransactionHandler::init(storage);
    _journal = std::make_unique<Page>(storage.superBlock(), storage.pageCache());
    _clearUnbarriered = false;
    LogHold hold(storage);
    TrackListItem track;
    if (storage.superBlock().findTrack(PageType::Journal, track)) {
        openJournal(track.firstPage(), track.firstPageChecksum());
    } else if (!storage.isReadOnly()) {
        createJournal();
    }
}

void JournalingTransactionHandler::openJournal(uint32_t page, uint32_t checksum) {
    IJournaledStorage& store = *storage();
    if (!store.superBlock().isPageNumber(page)) {
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
    try {
        _journal->load(page, store.isReadOnly());
    } catch (const SystemException& e) {
        if (store.isReadOnly()) {
            throw;
        }
        char line[256];
        std::snprintf(line, sizeof line, "[JOURNAL] page load fail (%s) clear logs", messageOf(e));
        store.log(line, JournalLogLevel, true);
        _journal->reset();
        _journal->init(PageType::Journal, page, 0, 0, 0);
        _journal->setChecksum(checksum);
        _journal->save();
        _journal->reset();
        _journal->loadForWrite(page);
    }
    if (!_journal->type().equals(PageType::Journal) || _journal->checksum() != checksum) {
        _journal->reset();
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
}

void JournalingTransactionHandler::createJournal() {
    IJournaledStorage& store = *storage();
    IFreePageAllocator* allocator = store.freePageAllocator();
    uint32_t page = allocator->freePageCount() > 0 ? store.findNextWritablePageNumber(PageType::Journal) : 0;
    if (page == 0) {
        // Taking a page a track holds would destroy its data: a storage without a free
        // page cannot get a journal.
        throw TarsilException(QF_HERE, 1, "Not enough space");
    }
    allocator->extract(page);
    allocator->flush();
    _journal->init(PageType::Journal, page, 0, 0, 0);
    _journal->saveHeader();
    // Crash guard: the track list must never name a journal page whose header is not on
    // disk, or every later open would find the storage corrupted. (The registration in
    // turn is durable before any change uses the journal: the first journal write is
    // followed by a barrier before anything is carried out.)
    barrier();
    SuperBlock& superBlock = store.superBlock();
    superBlock.registerTrack(PageType::Journal, BitMask32(0xFFFFFFFF), page, _journal->checksum());
    superBlock.save();
    store.reloadTrackRegistry();
}

void JournalingTransactionHandler::reset() {
    AbstractTransactionHandler::reset();
    if (_journal) {
        _journal->reset();
    }
    _clearUnbarriered = false;
}

bool JournalingTransactionHandler::isJournalEmpty() {
    return !_journal || !_journal->isLoaded() || _journal->itemCount() == 0;
}

void JournalingTransactionHandler::writeJournal() {
    const std::vector<TransactionLog*>& list = records();
    if (list.empty()) {
        return;
    }
    if (!_journal || !_journal->isLoaded()) {
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
    Page& journal = *_journal;
    uint32_t pageSize = journal.superBlock().pageSize();
    uint64_t end = Page::IndexData;
    for (TransactionLog* record : list) {
        end += static_cast<uint32_t>(record->serializedSize());
    }
    if (end > pageSize) {
        // Refused before anything is written: the change has not begun.
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
    Buffer& buffer = journal.buffer();
    buffer.setPosition(Page::IndexData);
    for (TransactionLog* record : list) {
        record->writeTo(buffer);
    }
    uint32_t lastOffset = static_cast<uint32_t>(end) - static_cast<uint32_t>(list.back()->serializedSize());
    if (end > static_cast<uint64_t>(JournalFormat::SectorSize)) {
        if (_clearUnbarriered) {
            // Crash guard: records beyond the header's sector are about to be overwritten;
            // a previous header that still counted them must not survive the cut.
            barrier();
        }
        journal.setItemCount(0);
        journal.setFirstItemOffset(Page::IndexData);
        journal.setLastItemOffset(Page::IndexData);
        journal.syncSaveDirty();
        // Crash guard: the records are on disk before a header counts them.
        barrier();
    }
    // Records that end in the header's sector go down in the same sector write.
    journal.setItemCount(static_cast<uint32_t>(list.size()));
    journal.setFirstItemOffset(Page::IndexData);
    journal.setLastItemOffset(lastOffset);
    journal.syncSaveDirty();
    // Crash guard: the whole journal is durable before the first change it describes.
    barrier();
}

void JournalingTransactionHandler::clearJournal() {
    if (!_journal || !_journal->isLoaded() || _journal->itemCount() == 0) {
        return;
    }
    Page& journal = *_journal;
    journal.setItemCount(0);
    journal.setFirstItemOffset(Page::IndexData);
    journal.setLastItemOffset(Page::IndexData);
    journal.buffer().setPosition(Page::IndexData);
    // No barrier: a lost empty header only replays a change that is complete, which
    // replay recognises and leaves alone.
    journal.saveHeader();
    _clearUnbarriered = true;
}

void JournalingTransactionHandler::rollbackTransaction() {
    LogHold hold(*storage());
    AbstractTransactionHandler::rollbackTransaction();
}

void JournalingTransactionHandler::replay() {
    IJournaledStorage& store = *storage();
    if (isJournalEmpty()) {
        store.log("[JOURNAL] Empty", JournalLogLevel, true);
        return;
    }
    Page& journal = *_journal;
    int limit = static_cast<int>(journal.superBlock().pageSize());
    uint32_t count = journal.itemCount();
    uint32_t first = journal.firstItemOffset();
    int position =
        first >= Page::IndexData && first < static_cast<uint32_t>(limit) ? static_cast<int>(first) : limit;
    std::deque<std::unique_ptr<TransactionLog>> applied;  // most recent first
    bool allApplied = true;
    // Each record is at least 6 bytes and must end inside the page: a garbage count
    // cannot make this loop run past the page.
    for (uint32_t i = 0; i < count; ++i) {
        std::unique_ptr<TransactionLog> record =
            TransactionLog::read(store, journal.buffer(), position, limit);
        if (!record) {
            char line[96];
            std::snprintf(line, sizeof line, "[JOURNAL] Fail: unknown record at offset %d", position);
            store.log(line, JournalLogLevel, true);
            allApplied = false;
            break;
        }
        if (!record->isApplied()) {
            journalLog(store, "[JOURNAL] Fail: ", *record);
            allApplied = false;
            break;
        }
        position += record->serializedSize();
        applied.push_front(std::move(record));
    }
    if (applied.empty()) {
        store.log("[JOURNAL] All transaction failed. Just cleanup journal.", JournalLogLevel, true);
    } else if (allApplied) {
        store.log("[JOURNAL] All transaction succeeds except clear log. (commited)", JournalLogLevel, true);
    } else {
        for (std::unique_ptr<TransactionLog>& record : applied) {
            record->rollback();
            // Crash guard: undone effects stay a suffix of the records, so a replay
            // interrupted here finds a shorter prefix applied and goes on undoing it.
            barrier();
            journalLog(store, "ROLLBACK: ", *record);
        }
    }
}
