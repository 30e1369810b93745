#include "storage/util/CorrectionTransaction.h"

#include "storage/pager/IFreePageAllocator.h"
#include "storage/pager/Page.h"
#include "storage/transaction/DeleteTrackTransactionLog.h"
#include "storage/transaction/ExtractFreePageTransactionLog.h"
#include "storage/transaction/FlushPageTransactionLog.h"
#include "storage/transaction/IJournaledStorage.h"
#include "storage/transaction/UpdateTrackFirstTransactionLog.h"
#include "storage/transaction/UpdateTrackLastTransactionLog.h"

void CorrectionTransaction::setTrackFirst(Page& page) {
    add(std::make_unique<UpdateTrackFirstTransactionLog>(storage(), page.type(), page.pageNumber(),
                                                         page.checksum()));
}

void CorrectionTransaction::setTrackLast(Page& page) {
    add(std::make_unique<UpdateTrackLastTransactionLog>(storage(), page.type(), page.pageNumber(),
                                                        page.checksum()));
}

void CorrectionTransaction::free(const FreePageList& freed) {
    addFreed(freed);
}

void CorrectionTransaction::saveHeader(Page& page) {
    add(std::make_unique<FlushPageTransactionLog>(storage(), page, true, false));
}

void CorrectionTransaction::extract(Page& page) {
    if (storage().freePageAllocator()->isListed(page.pageNumber())) {
        add(std::make_unique<ExtractFreePageTransactionLog>(storage(), page.pageNumber()));
    }
}

void CorrectionTransaction::deleteTrack(const PageType& type) {
    add(std::make_unique<DeleteTrackTransactionLog>(storage(), type));
}
