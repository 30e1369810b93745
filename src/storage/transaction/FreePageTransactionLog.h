#pragma once

#include <cstdint>

#include "storage/transaction/JournalFormat.h"
#include "storage/transaction/TransactionLog.h"

// The common form of the records that move one page into or out of the free list.
class FreePageTransactionLog : public TransactionLog {
public:
    FreePageTransactionLog(IJournaledStorage& storage, uint16_t type, uint32_t page)
        : TransactionLog(storage, type), _page(page) {}

    uint32_t page() const { return _page; }

    int payloadSize() const override { return JournalFormat::FreePagePayload; }
    void readPayload(Buffer& buffer, int position) override;
    void writePayload(Buffer& buffer) const override;

protected:
    // The allocator's list page follows the in-memory list.
    void extractAndFlush();
    void appendAndFlush();

private:
    uint32_t _page;
};
