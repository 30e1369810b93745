#include "storage/transaction/OverwriteTransaction.h"

#include "storage/pager/FreePageList.h"
#include "storage/pager/Page.h"
#include "storage/transaction/FlushPageTransactionLog.h"
#include "storage/transaction/UpdateTrackFirstTransactionLog.h"

OverwriteTransaction::OverwriteTransaction(IJournaledStorage& storage, const FreePageList& freed, Page& page,
                                           bool flush, bool headerOnly)
    : Transaction(storage) {
    if (freed.intervalCount() > 0) {
        add(std::make_unique<UpdateTrackFirstTransactionLog>(storage, page.type(), page.pageNumber(),
                                                             page.checksum()));
        addFreed(freed);
    }
    if (flush && page.isLoaded() && !page.buffer().isClean()) {
        add(std::make_unique<FlushPageTransactionLog>(storage, page, headerOnly, false));
    }
}
