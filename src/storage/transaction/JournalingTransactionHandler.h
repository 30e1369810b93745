#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "storage/transaction/AbstractTransactionHandler.h"

class Page;
class TransactionLog;

// The transaction handler of a file storage: the journal is one "JNAL" page, registered
// as its own track. Replay at open undoes, most recent first, every record whose effect
// reached the disk when the change as a whole did not, so a change is complete or absent.
//
// Durability (the device may reorder writes between barriers):
// - the journal is durable before the first record is carried out;
// - a commit writes its effects with a barrier after each and empties the journal;
// - a batch of page joins (`commitDeferred`; the pages themselves were written before its
//   journal, so the journal's barrier covers them) writes its effects with no barrier at
//   all: they become durable at the file's next barrier. Until then the journal keeps
//   describing them: the next batch carries their records into its own journal (both
//   fit the header's sector), any other commit or any write outside a transaction puts a
//   barrier first, and the journal is emptied only after a barrier made them durable
//   (at the end of a flush or a format).
//   One barrier per batch instead of five per page;
// - a page whose header a journal on disk records is not written outside a transaction
//   before that journal is durably empty (replay would take the complete change for an
//   interrupted one when the header on disk no longer matches).
// Since the effects of one journal may reach the disk in any subset, replay looks at
// every record and undoes each one found on disk; a batch carried into the next journal
// is then undone with it (its pages had not been flushed).
// Used on the storage's writing thread only.
class JournalingTransactionHandler : public AbstractTransactionHandler {
public:
    JournalingTransactionHandler();
    ~JournalingTransactionHandler() override;

    void init(IJournaledStorage& storage) override;
    void reset() override;
    void commit() override;
    void commitDeferred() override;
    void beforeUnjournaledWrite(uint32_t page) override;
    void emptyJournalIfSettled() override;
    void rollbackTransaction() override;
    void writeJournal() override;
    void clearJournal() override;
    void replay() override;
    bool isJournalEmpty() override;
    bool holdsUnfinishedChange() override;

    // The journal page (tests and the storage tool).
    Page* journal() { return _journal.get(); }

protected:
    void afterApply() override { barrier(); }

private:
    // A record decoded from the journal page and whether its effect is on disk.
    struct Replayed {
        std::unique_ptr<TransactionLog> record;
        bool applied = false;
    };

    void openJournal(uint32_t page, uint32_t checksum);
    void createJournal();
    void barrier();
    // The journal's records as decoded, each marked applied when its effect, or that of a
    // later record that moved on from it, is on disk. `unknownAt` is the offset where
    // decoding stopped before the count the header gives (an unknown or cut record), or -1.
    std::vector<Replayed> decodeJournal(int& unknownAt);
    void commitPageJoin();
    void writeJournalHeader(uint32_t count, uint32_t lastOffset);
    // The effects the journal describes are behind a barrier.
    bool effectsDurable();

    std::unique_ptr<Page> _journal;
    // The emptied header is written but not yet behind a barrier.
    bool _clearUnbarriered = false;
    // The records of the last page join while their effects are not yet durable: their
    // bytes as journaled, how many, and the pages whose headers they record.
    std::vector<uint8_t> _carried;
    uint32_t _carriedCount = 0;
    std::vector<uint32_t> _carriedPages;
    // The last write of the effects the journal describes.
    uint64_t _effectsTicket = 0;
    // Pages whose headers the journal on disk records, until it is durably empty.
    std::vector<uint32_t> _recordedPages;
    // The write of the empty journal header (0 when none since the journal last held records).
    uint64_t _emptyTicket = 0;
};
