#include "storage/transaction/Transaction.h"

#include "storage/pager/FreePageList.h"
#include "storage/transaction/AppendFreePageIntervalTransactionLog.h"
#include "storage/transaction/AppendFreePageTransactionLog.h"
#include "storage/transaction/IJournaledStorage.h"
#include "storage/transaction/ITransactionHandler.h"

void Transaction::commit() {
    if (_records.empty()) {
        return;
    }
    ITransactionHandler* handler = _storage.transactionHandler();
    handler->clear();
    for (const std::unique_ptr<TransactionLog>& record : _records) {
        handler->add(record.get());
    }
    try {
        handler->commit();
    } catch (...) {
        handler->clear();
        _records.clear();
        throw;
    }
    handler->clear();
    _records.clear();
}

void Transaction::addFreed(const FreePageList& freed) {
    for (const FreePageListItem& item : freed.intervals()) {
        if (item.first() == item.last()) {
            add(std::make_unique<AppendFreePageTransactionLog>(_storage, item.first()));
        } else {
            add(std::make_unique<AppendFreePageIntervalTransactionLog>(_storage, item.first(), item.last()));
        }
    }
}
