#include "storage/transaction/ChangePageLinkTransactionLog.h"

#include <cstdio>
#include <cstring>

#include "base/Buffer.h"
#include "base/IFormatable.h"
#include "base/SystemException.h"
#include "base/TarsilException.h"
#include "base/Trace.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"
#include "storage/transaction/IJournaledStorage.h"
#include "storage/transaction/JournalPageCheck.h"

namespace {

// An exception whose text names the three pages; the rollback's only failure mode.
class LinkTypeException : public SystemException {
public:
    LinkTypeException(const char* file, int line, const char* function, const char* format, uint32_t previous,
                      uint32_t current, uint32_t next)
        : SystemException(file, line, function, 0) {
        char text[160];
        std::snprintf(text, sizeof text, format, previous, current, next);
        setOwnedMessage(text);
    }
};

}  // namespace

ChangePageLinkTransactionLog::ChangePageLinkTransactionLog(IJournaledStorage& storage)
    : TransactionLog(storage, JournalFormat::ChangePageLink) {}

ChangePageLinkTransactionLog::ChangePageLinkTransactionLog(IJournaledStorage& storage, Page* previous,
                                                           Page& current, Page* next)
    : TransactionLog(storage, JournalFormat::ChangePageLink),
      _previous(previous),
      _current(&current),
      _next(next),
      _pageType(current.type()),
      _previousPage(previous != nullptr ? previous->pageNumber() : 0),
      _previousChecksum(previous != nullptr ? previous->checksum() : 0),
      _currentPage(current.pageNumber()),
      _currentChecksum(current.checksum()),
      _nextPage(next != nullptr ? next->pageNumber() : 0),
      _nextChecksum(next != nullptr ? next->checksum() : 0) {}

void ChangePageLinkTransactionLog::readPayload(Buffer& buffer, int position) {
    _pageType.readFrom(buffer, position);
    _previousPage = buffer.getIntAt(position + 4);
    _previousChecksum = buffer.getIntAt(position + 8);
    _currentPage = buffer.getIntAt(position + 12);
    _currentChecksum = buffer.getIntAt(position + 16);
    _nextPage = buffer.getIntAt(position + 20);
    _nextChecksum = buffer.getIntAt(position + 24);
    std::memcpy(_header, buffer.pointerAt(position + 28, JournalFormat::PageHeaderSize),
                JournalFormat::PageHeaderSize);
}

void ChangePageLinkTransactionLog::writePayload(Buffer& buffer) const {
    if (_current != nullptr) {
        std::memcpy(_header, _current->data(), JournalFormat::PageHeaderSize);
    }
    _pageType.writeTo(buffer);
    buffer.putInt(_previousPage);
    buffer.putInt(_previousChecksum);
    buffer.putInt(_currentPage);
    buffer.putInt(_currentChecksum);
    buffer.putInt(_nextPage);
    buffer.putInt(_nextChecksum);
    buffer.put(_header, JournalFormat::PageHeaderSize);
}

bool ChangePageLinkTransactionLog::isApplied() {
    return JournalPageCheck::headerMatches(
        storage(), _currentPage, _header,
        "[ChangePageLinkTransactionLog] page header load fail (%s) clear page %u");
}

void ChangePageLinkTransactionLog::apply() {
    if (_current == nullptr) {
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
    if (_previous != nullptr && _previous->pageNumber() != 0) {
        _previous->saveHeader();
    }
    if (_next != nullptr && _next->pageNumber() != 0) {
        _next->saveHeader();
    }
    if (_current->pageNumber() != 0) {
        _current->saveHeader();
    }
}

void ChangePageLinkTransactionLog::loadNeighbour(Page& page, uint32_t number, const char* typeDiffText) {
    if (!storage().superBlock().isPageNumber(number)) {
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
    page.loadForWrite(number);
    if (!page.type().equals(_pageType)) {
        throw LinkTypeException(QF_HERE, typeDiffText, _previousPage, _currentPage, _nextPage);
    }
}

void ChangePageLinkTransactionLog::rollback() {
    QF_TRACE("ChangePageLinkTransactionLog rollback pre(%u), cur(%u), next(%u)", _previousPage, _currentPage,
             _nextPage);
    if (!storage().superBlock().isPageNumber(_currentPage)) {
        throw TarsilException(QF_HERE, 4, "Storage corrupted");
    }
    SuperBlock& superBlock = storage().superBlock();
    Page previous(superBlock, storage().pageCache());
    Page next(superBlock, storage().pageCache());
    uint32_t itemSize = 0;
    if (_previousPage != 0 && _nextPage != 0) {
        const char* text =
            "ChangePageLinkTransactionLog rollback prev/next page type diff pre(%u), cur(%u), next(%u)";
        loadNeighbour(previous, _previousPage, text);
        loadNeighbour(next, _nextPage, text);
        itemSize = previous.itemSize();
        previous.setNext(_nextPage);
        previous.setNextChecksum(next.checksum());
        next.setPrevious(_previousPage);
        next.setPreviousChecksum(previous.checksum());
        previous.saveHeader();
        next.saveHeader();
    } else if (_previousPage != 0) {
        loadNeighbour(previous, _previousPage,
                      "ChangePageLinkTransactionLog rollback prev page type diff pre(%u), cur(%u), next(%u)");
        itemSize = previous.itemSize();
        previous.setNext(0);
        previous.setNextChecksum(Page::InvalidPageChecksum);
        previous.saveHeader();
    } else if (_nextPage != 0) {
        loadNeighbour(next, _nextPage,
                      "ChangePageLinkTransactionLog rollback next page type diff pre(%u), cur(%u), next(%u)");
        itemSize = next.itemSize();
        next.setPrevious(0);
        next.setPreviousChecksum(Page::InvalidPageChecksum);
        next.saveHeader();
    }
    previous.reset();
    next.reset();
    Page current(superBlock, storage().pageCache());
    current.init(_pageType, _currentPage, itemSize, 0, 0);
    current.save();
    current.reset();
}

void ChangePageLinkTransactionLog::toString(IFormatable& out) const {
    out.format("ChangePageLinkTransactionLog pre(%u), cur(%u), next(%u)", _previousPage, _currentPage,
               _nextPage);
}
