#pragma once

#include <memory>

#include "storage/transaction/AbstractTransactionHandler.h"

class Page;

// The transaction handler of a file storage: the journal is one "JNAL" page, registered
// as its own track. A commit writes the records and then the header that counts them,
// carries the records out with a durability barrier after each, and empties the header.
// Replay at open undoes, most recent first, every record whose effect reached the disk
// when a later one did not, so the change is either complete or absent.
//
// Durability (the device may reorder writes between barriers):
// - the journal is durable before the first record is carried out;
// - each record's effect is durable before the next is carried out, so the effects on
//   disk are always a prefix of the records, which is what replay assumes;
// - the journal is emptied only after every effect is durable.
// Used on the storage's writing thread only.
class JournalingTransactionHandler : public AbstractTransactionHandler {
public:
    JournalingTransactionHandler();
    ~JournalingTransactionHandler() override;

    void init(IJournaledStorage& storage) override;
    void reset() override;
    void rollbackTransaction() override;
    void writeJournal() override;
    void clearJournal() override;
    void replay() override;
    bool isJournalEmpty() override;

    // The journal page (tests and the storage tool).
    Page* journal() { return _journal.get(); }

protected:
    void afterApply() override { barrier(); }

private:
    void openJournal(uint32_t page, uint32_t checksum);
    void createJournal();
    void barrier();

    std::unique_ptr<Page> _journal;
    // The emptied header is written but not yet behind a barrier.
    bool _clearUnbarriered = false;
};
