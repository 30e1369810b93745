#include "storage/transaction/AppendFreePageTransactionLog.h"

#include "base/IFormatable.h"
#include "storage/pager/IFreePageAllocator.h"
#include "storage/transaction/IJournaledStorage.h"

bool AppendFreePageTransactionLog::isApplied() {
    return storage().freePageAllocator()->consumable(page());
}

void AppendFreePageTransactionLog::toString(IFormatable& out) const {
    out.format("AppendFreePage %u", page());
}
