#pragma once

#include <functional>
#include <vector>

#include "storage/transaction/ITransactionHandler.h"

// The journal-independent half of a transaction handler: the collected records and the
// order of a commit and of a replay. Subclasses say where the journal lives and how each
// step is made durable.
class AbstractTransactionHandler : public ITransactionHandler {
public:
    void init(IJournaledStorage& storage) override;
    void reset() override;
    void clear() override { _records.clear(); }
    void add(TransactionLog* record) override { _records.push_back(record); }
    void commit() override;
    void rollbackTransaction() override;
    void applyAll() override;
    bool hasFailed() const override { return _failed; }

protected:
    // Runs the steps of a commit of the collected records: nothing when there are none;
    // refused after an earlier failure; a failure marks the handler failed. The records
    // are forgotten afterwards either way.
    void runCommit(const std::function<void()>& steps);
    // Called after each record's apply; makes its effect durable.
    virtual void afterApply() {}
    // The error a commit refused after an earlier failure reaches its caller as.
    [[noreturn]] virtual void refuseCommit();

    IJournaledStorage* storage() const { return _storage; }
    const std::vector<TransactionLog*>& records() const { return _records; }

private:
    IJournaledStorage* _storage = nullptr;
    std::vector<TransactionLog*> _records;
    bool _failed = false;
};
