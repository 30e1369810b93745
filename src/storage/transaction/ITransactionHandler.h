#pragma once

#include <cstdint>

class IJournaledStorage;
class TransactionLog;

// Carries out the records of one multi-page change so that a crash leaves the change
// complete or absent: the records go into the journal first, are then carried out in
// order, and the journal is emptied last. At open, `rollbackTransaction` replays what a
// crash left in the journal. Used on the storage's writing thread only.
class ITransactionHandler {
public:
    virtual ~ITransactionHandler() = default;
    // Binds to the storage; a writable storage without a journal gets one.
    virtual void init(IJournaledStorage& storage) = 0;
    virtual void reset() = 0;
    // Forgets the collected records.
    virtual void clear() = 0;
    // Appends a record (not owned).
    virtual void add(TransactionLog* record) = 0;
    // Journal, apply, empty the journal. An error propagates with the journal still
    // describing the change; the handler then refuses further commits (IOException),
    // so nothing overwrites that journal before the next open replays it.
    virtual void commit() = 0;
    // As commit, for pages joining their tracks: the effects need not be durable when it
    // returns; they become so at the next barrier of the file, and until then the journal
    // keeps describing them (also inside the next such commit's journal). Errors as commit.
    virtual void commitDeferred() { commit(); }
    // Before `page` is written outside any transaction: the effects of deferred commits are
    // made durable first, and when the journal on disk may still be replayed and holds the
    // page's header, it is first made durably empty.
    virtual void beforeUnjournaledWrite(uint32_t page) { (void)page; }
    // After a barrier of the file (a flush's last, a format's): empties a journal whose
    // effects are durable. No barrier behind: a lost empty header only leaves a complete
    // change to replay, which replay keeps.
    virtual void emptyJournalIfSettled() {}
    // Replays and empties the journal (writable open).
    virtual void rollbackTransaction() = 0;
    virtual void applyAll() = 0;
    virtual void writeJournal() = 0;
    virtual void clearJournal() = 0;
    virtual void replay() = 0;

    // Whether the journal holds no record.
    virtual bool isJournalEmpty() = 0;
    // Whether the journal holds a change that is not complete on disk (the read-only
    // check's rule: a complete change still in the journal needs no repair).
    virtual bool holdsUnfinishedChange() { return !isJournalEmpty(); }
    // A commit failed since init: what is on disk is only known to the journal.
    virtual bool hasFailed() const = 0;
};
