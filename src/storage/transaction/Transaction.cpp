#include "storage/transaction/Transaction.h"

#include "storage/pager/FreePageList.h"
#include "storage/pager/IFreePageAllocator.h"
#include "storage/transaction/AppendFreePageIntervalTransactionLog.h"
#include "storage/transaction/AppendFreePageTransactionLog.h"
#include "storage/transaction/IJournaledStorage.h"
#include "storage/transaction/ITransactionHandler.h"

Transaction::Transaction(IJournaledStorage& storage, bool defers) : _storage(storage), _defers(defers) {
    if (!defers) {
        _storage.joinPendingPages();
    }
}

void Transaction::commit() {
    if (_records.empty()) {
        restoreStillListed();
        return;
    }
    ITransactionHandler* handler = _storage.transactionHandler();
    handler->clear();
    for (const std::unique_ptr<TransactionLog>& record : _records) {
        handler->add(record.get());
    }
    try {
        if (_defers) {
            handler->commitDeferred();
        } else {
            handler->commit();
        }
    } catch (...) {
        handler->clear();
        _records.clear();
        throw;
    }
    handler->clear();
    _records.clear();
    restoreStillListed();
}

void Transaction::restoreStillListed() {
    for (uint32_t page : _stillListed) {
        _storage.freePageAllocator()->restore(page);
    }
    _stillListed.clear();
}

void Transaction::addFreed(const FreePageList& given) {
    IFreePageAllocator& allocator = *_storage.freePageAllocator();
    FreePageList freed;
    for (const FreePageListItem& item : given.intervals()) {
        for (uint32_t page = item.first(); page >= item.first() && page <= item.last(); ++page) {
            if (allocator.isListed(page)) {
                _stillListed.push_back(page);
            } else {
                freed.add(page, page);
            }
        }
    }
    for (const FreePageListItem& item : freed.intervals()) {
        if (item.first() == item.last()) {
            add(std::make_unique<AppendFreePageTransactionLog>(_storage, item.first()));
        } else {
            add(std::make_unique<AppendFreePageIntervalTransactionLog>(_storage, item.first(), item.last()));
        }
    }
}
