#pragma once

#include <cstdint>

#include "storage/transaction/JournalFormat.h"
#include "storage/transaction/TransactionLog.h"

// Gives the pages first..last back to the free list (type 7); applied when every one
// of them is on the list page.
class AppendFreePageIntervalTransactionLog : public TransactionLog {
public:
    AppendFreePageIntervalTransactionLog(IJournaledStorage& storage, uint32_t first, uint32_t last)
        : TransactionLog(storage, JournalFormat::AppendFreePageInterval), _first(first), _last(last) {}

    uint32_t first() const { return _first; }
    uint32_t last() const { return _last; }

    int payloadSize() const override { return JournalFormat::AppendFreePageIntervalPayload; }
    void readPayload(Buffer& buffer, int position) override;
    void writePayload(Buffer& buffer) const override;
    bool isApplied() override;
    void apply() override;
    void rollback() override;
    void toString(IFormatable& out) const override;

private:
    // An interval a record read from a damaged journal may hold: nothing outside the
    // file is ever tested or touched, so garbage cannot make the replay run for ages.
    bool isInsideFile() const;

    uint32_t _first;
    uint32_t _last;
};
