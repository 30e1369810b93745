#pragma once

#include <cstdint>

#include "storage/pager/PageType.h"
#include "storage/transaction/JournalFormat.h"
#include "storage/transaction/TransactionLog.h"

class Page;

// Links a page between two neighbours of its track (type 8). No change of this system
// makes one, but a journal may hold it: it is decoded, tested and undone. Undoing it
// joins the neighbours to each other again and gives the page a fresh checksum, so every
// stale link to it fails its check.
class ChangePageLinkTransactionLog : public TransactionLog {
public:
    explicit ChangePageLinkTransactionLog(IJournaledStorage& storage);
    ChangePageLinkTransactionLog(IJournaledStorage& storage, Page* previous, Page& current, Page* next);

    const PageType& pageType() const { return _pageType; }
    uint32_t previousPage() const { return _previousPage; }
    uint32_t currentPage() const { return _currentPage; }
    uint32_t nextPage() const { return _nextPage; }

    int payloadSize() const override { return JournalFormat::ChangePageLinkPayload; }
    void readPayload(Buffer& buffer, int position) override;
    void writePayload(Buffer& buffer) const override;
    bool isApplied() override;
    void apply() override;
    void rollback() override;
    uint32_t recordedHeaderPage() const override { return _currentPage; }
    void toString(IFormatable& out) const override;

private:
    void loadNeighbour(Page& page, uint32_t number, const char* typeDiffText);

    Page* _previous = nullptr;
    Page* _current = nullptr;
    Page* _next = nullptr;
    PageType _pageType;
    uint32_t _previousPage = 0;
    uint32_t _previousChecksum = 0;
    uint32_t _currentPage = 0;
    uint32_t _currentChecksum = 0;
    uint32_t _nextPage = 0;
    uint32_t _nextChecksum = 0;
    mutable uint8_t _header[JournalFormat::PageHeaderSize] = {};
};
