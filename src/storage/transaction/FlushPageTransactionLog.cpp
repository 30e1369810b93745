#include "storage/transaction/FlushPageTransactionLog.h"

#include <cstring>

#include "base/Buffer.h"
#include "base/IFormatable.h"
#include "base/TarsilException.h"
#include "base/Trace.h"
#include "storage/pager/Page.h"
#include "storage/transaction/IJournaledStorage.h"
#include "storage/transaction/JournalPageCheck.h"

FlushPageTransactionLog::FlushPageTransactionLog(IJournaledStorage& storage)
    : TransactionLog(storage, JournalFormat::FlushPage) {}

FlushPageTransactionLog::FlushPageTransactionLog(IJournaledStorage& storage, Page& page, bool headerOnly,
                                                 bool wholePage)
    : TransactionLog(storage, JournalFormat::FlushPage),
      _page(&page),
      _headerOnly(headerOnly),
      _wholePage(wholePage),
      _pageNumber(page.pageNumber()) {}

void FlushPageTransactionLog::readPayload(Buffer& buffer, int position) {
    _pageNumber = buffer.getIntAt(position);
    std::memcpy(_header, buffer.pointerAt(position + 4, JournalFormat::PageHeaderSize),
                JournalFormat::PageHeaderSize);
}

void FlushPageTransactionLog::writePayload(Buffer& buffer) const {
    if (_page != nullptr) {
        std::memcpy(_header, _page->data(), JournalFormat::PageHeaderSize);
    }
    buffer.putInt(_pageNumber);
    buffer.put(_header, JournalFormat::PageHeaderSize);
}

bool FlushPageTransactionLog::isApplied() {
    return JournalPageCheck::headerMatches(storage(), _pageNumber, _header,
                                           "[TRANSACTION] page header load fail (%s) clear page %u");
}

void FlushPageTransactionLog::apply() {
    if (_page == nullptr) {
        // Only records of a live transaction are carried out; replayed ones are undone.
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
    if (_headerOnly) {
        _page->saveHeader();
    } else if (_wholePage) {
        _page->save();
    } else {
        _page->syncSaveDirty();
    }
}

void FlushPageTransactionLog::rollback() {
    QF_TRACE("FlushPageTransactionLog %u cannot rollback just ignore", _pageNumber);
}

void FlushPageTransactionLog::toString(IFormatable& out) const {
    out.format("FlushPage %u%s", _pageNumber, _headerOnly ? "[header only]" : "");
}
