#include "storage/transaction/ExtractFreePageTransactionLog.h"

#include "base/IFormatable.h"
#include "storage/pager/IFreePageAllocator.h"
#include "storage/transaction/IJournaledStorage.h"

bool ExtractFreePageTransactionLog::isApplied() {
    return !storage().freePageAllocator()->consumable(page());
}

void ExtractFreePageTransactionLog::applyInMemory() {
    storage().freePageAllocator()->extract(page());
}

void ExtractFreePageTransactionLog::writeBack() {
    storage().freePageAllocator()->flush();
}

void ExtractFreePageTransactionLog::toString(IFormatable& out) const {
    out.format("ExtractFreePage %u", page());
}
