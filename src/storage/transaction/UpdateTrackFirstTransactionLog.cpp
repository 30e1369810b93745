#include "storage/transaction/UpdateTrackFirstTransactionLog.h"

#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"
#include "storage/transaction/IJournaledStorage.h"

namespace {

TrackListItem currentTrack(IJournaledStorage& storage, const PageType& type) {
    TrackListItem item;
    storage.superBlock().findTrack(type, item);
    return item;
}

}  // namespace

UpdateTrackFirstTransactionLog::UpdateTrackFirstTransactionLog(IJournaledStorage& storage,
                                                               const PageType& type, uint32_t newPage,
                                                               uint32_t newChecksum)
    : UpdateTrackTransactionLog(storage, JournalFormat::UpdateTrackFirst, type,
                                currentTrack(storage, type).firstPage(),
                                currentTrack(storage, type).firstPageChecksum(), newPage, newChecksum) {}

bool UpdateTrackFirstTransactionLog::isApplied() {
    TrackListItem item;
    return storage().superBlock().findTrack(trackType(), item) && item.firstPage() == newPage() &&
           item.firstPageChecksum() == newChecksum();
}

void UpdateTrackFirstTransactionLog::apply() {
    SuperBlock& superBlock = storage().superBlock();
    superBlock.setTrackFirst(trackType(), newPage(), newChecksum());
    // The journal orders this write: its records undo it when the rest never arrives.
    superBlock.saveJournaled();
}

void UpdateTrackFirstTransactionLog::rollback() {
    SuperBlock& superBlock = storage().superBlock();
    if (oldPage() != 0) {
        superBlock.setTrackFirst(trackType(), oldPage(), oldChecksum());
        storage().updateTrackFirst(trackType(), oldPage(), oldChecksum());
    } else {
        superBlock.removeTrack(trackType());
        storage().forgetTrack(trackType());
    }
    superBlock.save();
}
