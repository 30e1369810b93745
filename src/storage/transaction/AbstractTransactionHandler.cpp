#include "storage/transaction/AbstractTransactionHandler.h"

#include <cerrno>

#include "base/IOException.h"
#include "storage/pager/SuperBlock.h"
#include "storage/transaction/IJournaledStorage.h"
#include "storage/transaction/TransactionLog.h"

void AbstractTransactionHandler::init(IJournaledStorage& storage) {
    _storage = &storage;
    _records.clear();
    _failed = false;
}

void AbstractTransactionHandler::reset() {
    _records.clear();
    _failed = false;
}

void AbstractTransactionHandler::commit() {
    runCommit([this] {
        writeJournal();
        applyAll();
        clearJournal();
    });
}

void AbstractTransactionHandler::runCommit(const std::function<void()>& steps) {
    if (_records.empty()) {
        return;
    }
    if (_failed) {
        refuseCommit();
    }
    try {
        steps();
    } catch (...) {
        _failed = true;
        _records.clear();
        throw;
    }
    _records.clear();
}

void AbstractTransactionHandler::refuseCommit() {
    int handle = _storage != nullptr ? _storage->superBlock().writeHandle() : -1;
    throw IOException(QF_HERE, EIO, handle, 0, 0);
}

void AbstractTransactionHandler::rollbackTransaction() {
    replay();
    clearJournal();
}

void AbstractTransactionHandler::applyAll() {
    for (TransactionLog* record : _records) {
        record->apply();
        afterApply();
    }
}
