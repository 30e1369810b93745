#pragma once

#include "storage/transaction/FreePageTransactionLog.h"

// Takes a page off the free list (type 2); applied when the page is no longer free.
class ExtractFreePageTransactionLog : public FreePageTransactionLog {
public:
    ExtractFreePageTransactionLog(IJournaledStorage& storage, uint32_t page)
        : FreePageTransactionLog(storage, JournalFormat::ExtractFreePage, page) {}

    bool isApplied() override;
    void apply() override { extractAndFlush(); }
    void applyInMemory() override;
    void writeBack() override;
    void rollback() override { appendAndFlush(); }
    void toString(IFormatable& out) const override;
};
