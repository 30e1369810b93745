#include "storage/transaction/JournalingTransactionHandler.h"

#include <algorithm>
#include <cstdio>

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

bool JournalingTransactionHandler::effectsDurable() {
    return AIOContext::instance().isDurable(storage()->superBlock().writeHandle(), _effectsTicket);
}

namespace {

std::vector<uint32_t> recordedPagesOf(const std::vector<TransactionLog*>& records) {
    std::vector<uint32_t> pages;
    for (const TransactionLog* record : records) {
        if (uint32_t page = record->recordedHeaderPage(); page != 0) {
            pages.push_back(page);
        }
    }
    return pages;
}

}  // namespace

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
    _carried.clear();
    _carriedCount = 0;
    _carriedPages.clear();
    _effectsTicket = 0;
    _recordedPages.clear();
    _emptyTicket = 0;
}

void JournalingTransactionHandler::commit() {
    runCommit([this] {
        if (!effectsDurable()) {
            // Crash guard: this journal replaces one that describes a page join whose
            // effects are not durable yet; were the new journal kept and those effects
            // only partly, nothing would undo them.
            barrier();
        }
        writeJournal();
        applyAll();
        clearJournal();
        _recordedPages = recordedPagesOf(records());
    });
}

void JournalingTransactionHandler::commitDeferred() {
    runCommit([this] { commitPageJoin(); });
}

void JournalingTransactionHandler::commitPageJoin() {
    const std::vector<TransactionLog*>& list = records();
    uint32_t size = 0;
    for (const TransactionLog* record : list) {
        size += static_cast<uint32_t>(record->serializedSize());
    }
    bool carry = !_carried.empty() && !effectsDurable();
    if (carry && Page::IndexData + _carried.size() + size > static_cast<size_t>(JournalFormat::SectorSize)) {
        // Crash guard: the journal about to be replaced describes effects that are not
        // durable yet, and there is no room to carry its records along.
        barrier();
        carry = false;
    }
    if (Page::IndexData + size > static_cast<uint32_t>(JournalFormat::SectorSize)) {
        // The records alone need more than the header's sector: the ordinary commit.
        writeJournal();
        applyAll();
        clearJournal();
        _recordedPages = recordedPagesOf(list);
        return;
    }
    if (!_journal || !_journal->isLoaded()) {
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
    Page& journal = *_journal;
    Buffer& buffer = journal.buffer();
    buffer.setPosition(Page::IndexData);
    uint32_t count = static_cast<uint32_t>(list.size());
    std::vector<uint32_t> pages;
    if (carry) {
        buffer.put(_carried.data(), static_cast<int>(_carried.size()));
        count += _carriedCount;
        pages = _carriedPages;
    }
    int start = buffer.position();
    for (TransactionLog* record : list) {
        record->writeTo(buffer);
    }
    int end = buffer.position();
    // Records and header share the header's sector: one write puts them down together.
    writeJournalHeader(count, static_cast<uint32_t>(end - list.back()->serializedSize()));
    journal.syncSaveDirty();
    // Crash guard: the journal is durable before the first effect it describes, and with
    // it the joining pages (written whole before it) and the effects of the join it
    // carries.
    barrier();
    std::vector<uint32_t> joined = recordedPagesOf(list);
    pages.insert(pages.end(), joined.begin(), joined.end());
    _recordedPages = std::move(pages);
    _emptyTicket = 0;
    // No barrier between the effects, nor an order: replay undoes whichever of them
    // reached the disk. So each page they change is written once.
    for (TransactionLog* record : list) {
        record->applyInMemory();
    }
    for (TransactionLog* record : list) {
        record->writeBack();
    }
    _carried.assign(journal.data() + start, journal.data() + end);
    _carriedCount = static_cast<uint32_t>(list.size());
    _carriedPages = std::move(joined);
    _effectsTicket = AIOContext::instance().lastWriteTicket(storage()->superBlock().writeHandle());
}

void JournalingTransactionHandler::writeJournalHeader(uint32_t count, uint32_t lastOffset) {
    _journal->setItemCount(count);
    _journal->setFirstItemOffset(Page::IndexData);
    _journal->setLastItemOffset(lastOffset);
}

void JournalingTransactionHandler::beforeUnjournaledWrite(uint32_t page) {
    if (!effectsDurable()) {
        // Crash guard: the page may name what the last page joins brought into the tracks
        // (a timeline page names media); it must not reach the disk before they do.
        barrier();
    }
    if (std::find(_recordedPages.begin(), _recordedPages.end(), page) == _recordedPages.end()) {
        return;
    }
    if (!isJournalEmpty()) {
        clearJournal();
    }
    if (!AIOContext::instance().isDurable(storage()->superBlock().writeHandle(), _emptyTicket)) {
        // Crash guard: the page's new header must not reach the disk while the journal
        // there still records its old one: replay would take the complete change for an
        // interrupted one and undo it.
        barrier();
    }
    _recordedPages.clear();
}

void JournalingTransactionHandler::emptyJournalIfSettled() {
    if (!isJournalEmpty() && effectsDurable()) {
        clearJournal();
    }
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
    writeJournalHeader(static_cast<uint32_t>(list.size()), lastOffset);
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
    // replay recognises and leaves alone. (Every caller has made the effects durable.)
    journal.saveHeader();
    _clearUnbarriered = true;
    _emptyTicket = AIOContext::instance().lastWriteTicket(storage()->superBlock().writeHandle());
    _carried.clear();
    _carriedCount = 0;
    _carriedPages.clear();
}

void JournalingTransactionHandler::rollbackTransaction() {
    LogHold hold(*storage());
    AbstractTransactionHandler::rollbackTransaction();
}

std::vector<JournalingTransactionHandler::Replayed> JournalingTransactionHandler::decodeJournal(int& unknownAt) {
    IJournaledStorage& store = *storage();
    Page& journal = *_journal;
    int limit = static_cast<int>(journal.superBlock().pageSize());
    uint32_t count = journal.itemCount();
    uint32_t first = journal.firstItemOffset();
    int position =
        first >= Page::IndexData && first < static_cast<uint32_t>(limit) ? static_cast<int>(first) : limit;
    std::vector<Replayed> list;
    unknownAt = -1;
    // Each record is at least 6 bytes and must end inside the page: a garbage count
    // cannot make this loop run past the page.
    for (uint32_t i = 0; i < count; ++i) {
        std::unique_ptr<TransactionLog> record = TransactionLog::read(store, journal.buffer(), position, limit);
        if (!record) {
            unknownAt = position;
            break;
        }
        position += record->serializedSize();
        Replayed entry;
        entry.applied = record->isApplied();
        entry.record = std::move(record);
        list.push_back(std::move(entry));
    }
    // A record that a later record on disk moved on from was on disk before it.
    for (size_t i = list.size(); i-- > 0;) {
        for (size_t j = i + 1; j < list.size() && !list[i].applied; ++j) {
            list[i].applied = list[j].applied && list[j].record->supersedes(*list[i].record);
        }
    }
    return list;
}

bool JournalingTransactionHandler::holdsUnfinishedChange() {
    if (isJournalEmpty()) {
        return false;
    }
    int unknownAt = -1;
    std::vector<Replayed> list = decodeJournal(unknownAt);
    return unknownAt >= 0 || std::any_of(list.begin(), list.end(), [](const Replayed& r) { return !r.applied; });
}

void JournalingTransactionHandler::replay() {
    IJournaledStorage& store = *storage();
    if (isJournalEmpty()) {
        store.log("[JOURNAL] Empty", JournalLogLevel, true);
        return;
    }
    int unknownAt = -1;
    std::vector<Replayed> list = decodeJournal(unknownAt);
    bool complete = unknownAt < 0;
    auto missing = std::find_if(list.begin(), list.end(), [](const Replayed& r) { return !r.applied; });
    bool anyApplied = std::any_of(list.begin(), list.end(), [](const Replayed& r) { return r.applied; });
    if (missing != list.end()) {
        journalLog(store, "[JOURNAL] Fail: ", *missing->record);
    } else if (!complete) {
        char line[96];
        std::snprintf(line, sizeof line, "[JOURNAL] Fail: unknown record at offset %d", unknownAt);
        store.log(line, JournalLogLevel, true);
    }
    if (complete && missing == list.end()) {
        store.log("[JOURNAL] All transaction succeeds except clear log. (commited)", JournalLogLevel, true);
    } else if (!anyApplied) {
        store.log("[JOURNAL] All transaction failed. Just cleanup journal.", JournalLogLevel, true);
    } else {
        // Most recent first, each record asked again: undoing a later one can bring back
        // the state an earlier one left (a track end moved twice).
        for (size_t i = list.size(); i-- > 0;) {
            TransactionLog& record = *list[i].record;
            if (!record.isApplied()) {
                continue;
            }
            record.rollback();
            // Crash guard: each undone effect is durable before the next one and before
            // the journal is emptied; a replay interrupted here finds the records not yet
            // undone still on disk and goes on undoing them.
            barrier();
            journalLog(store, "ROLLBACK: ", record);
        }
    }
}
