#pragma once

#include "storage/transaction/FreePageTransactionLog.h"

// Gives a page back to the free list (type 3); applied when the page is free.
class AppendFreePageTransactionLog : public FreePageTransactionLog {
public:
    AppendFreePageTransactionLog(IJournaledStorage& storage, uint32_t page)
        : FreePageTransactionLog(storage, JournalFormat::AppendFreePage, page) {}

    bool isApplied() override;
    void apply() override { appendAndFlush(); }
    void rollback() override { extractAndFlush(); }
    void toString(IFormatable& out) const override;
};
