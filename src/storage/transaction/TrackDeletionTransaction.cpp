#include "storage/transaction/TrackDeletionTransaction.h"

#include "storage/transaction/DeleteTrackTransactionLog.h"

TrackDeletionTransaction::TrackDeletionTransaction(IJournaledStorage& storage, const FreePageList& freed,
                                                   const PageType& type)
    : Transaction(storage) {
    addFreed(freed);
    add(std::make_unique<DeleteTrackTransactionLog>(storage, type));
}
