#include "storage/transaction/RollbackTransaction.h"

#include "storage/pager/IFreePageAllocator.h"
#include "storage/pager/Page.h"
#include "storage/transaction/ExtractFreePageTransactionLog.h"
#include "storage/transaction/FlushPageTransactionLog.h"
#include "storage/transaction/IJournaledStorage.h"
#include "storage/transaction/UpdateTrackLastTransactionLog.h"

RollbackTransaction::RollbackTransaction(IJournaledStorage& storage, const FreePageList& freed, Page& page)
    : Transaction(storage) {
    if (storage.freePageAllocator()->isListed(page.pageNumber())) {
        add(std::make_unique<ExtractFreePageTransactionLog>(storage, page.pageNumber()));
    }
    add(std::make_unique<UpdateTrackLastTransactionLog>(storage, page.type(), page.pageNumber(),
                                                        page.checksum()));
    addFreed(freed);
    add(std::make_unique<FlushPageTransactionLog>(storage, page, false, false));
}
