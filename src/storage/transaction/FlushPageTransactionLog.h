#pragma once

#include <cstdint>

#include "storage/transaction/JournalFormat.h"
#include "storage/transaction/TransactionLog.h"

class Page;

// Writes a page of a change (type 1). Its record holds the page's 128-byte header as it
// is written, taken when the record goes into the journal; the effect is on disk when
// the page's header on disk is exactly that. A page write cannot be undone: rolling
// back leaves the page as it is (what refers to it is undone by the other records).
class FlushPageTransactionLog : public TransactionLog {
public:
    // A record read back from a journal.
    explicit FlushPageTransactionLog(IJournaledStorage& storage);
    FlushPageTransactionLog(IJournaledStorage& storage, Page& page, bool headerOnly, bool wholePage);

    uint32_t pageNumber() const { return _pageNumber; }
    const uint8_t* header() const { return _header; }

    int payloadSize() const override { return JournalFormat::FlushPagePayload; }
    void readPayload(Buffer& buffer, int position) override;
    void writePayload(Buffer& buffer) const override;
    bool isApplied() override;
    void apply() override;
    void rollback() override;
    uint32_t recordedHeaderPage() const override { return _pageNumber; }
    void toString(IFormatable& out) const override;

private:
    Page* _page = nullptr;
    bool _headerOnly = false;
    bool _wholePage = false;
    uint32_t _pageNumber = 0;
    mutable uint8_t _header[JournalFormat::PageHeaderSize] = {};
};
