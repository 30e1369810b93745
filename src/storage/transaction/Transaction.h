#pragma once

#include <memory>
#include <cstdint>
#include <vector>

#include "storage/transaction/TransactionLog.h"

class FreePageList;
class IJournaledStorage;

// The records of one multi-page change, in the order they are carried out, handed to
// the storage's transaction handler on commit. A transaction owns its records; they are
// deleted by commit and by the destructor. Used on the storage's writing thread only.
class Transaction {
public:
    // `defers`: the change's effects may wait for the file's next barrier
    // (ITransactionHandler::commitDeferred); otherwise they are durable when commit returns,
    // and page joins that wait for a batch are committed first, since this change is built
    // on the track list they leave.
    explicit Transaction(IJournaledStorage& storage, bool defers = false);
    virtual ~Transaction() = default;
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Nothing happens for an empty transaction. Errors propagate (see ITransactionHandler).
    virtual void commit();

    const std::vector<std::unique_ptr<TransactionLog>>& records() const { return _records; }

protected:
    void add(std::unique_ptr<TransactionLog> record) { _records.push_back(std::move(record)); }
    // One record per interval of `freed`: a single page, or an interval. A page the free
    // list on disk still lists (taken for a track but freed before it joined) gets no
    // record: undoing an append of a page that was free all along would take it off the
    // list for good. It goes back to the in-memory list once the change is committed.
    void addFreed(const FreePageList& freed);
    IJournaledStorage& storage() const { return _storage; }
    void restoreStillListed();

private:
    IJournaledStorage& _storage;
    bool _defers;
    std::vector<std::unique_ptr<TransactionLog>> _records;
    std::vector<uint32_t> _stillListed;
};
