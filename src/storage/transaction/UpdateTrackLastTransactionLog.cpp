#include "storage/transaction/UpdateTrackLastTransactionLog.h"

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

UpdateTrackLastTransactionLog::UpdateTrackLastTransactionLog(IJournaledStorage& storage, const PageType& type,
                                                             uint32_t newPage, uint32_t newChecksum)
    : UpdateTrackTransactionLog(storage, JournalFormat::UpdateTrackLast, type,
                                currentTrack(storage, type).lastPage(),
                                currentTrack(storage, type).lastPageChecksum(), newPage, newChecksum) {}

bool UpdateTrackLastTransactionLog::isApplied() {
    TrackListItem item;
    return storage().superBlock().findTrack(trackType(), item) && item.lastPage() == newPage() &&
           item.lastPageChecksum() == newChecksum();
}

void UpdateTrackLastTransactionLog::apply() {
    applyInMemory();
    writeBack();
}

void UpdateTrackLastTransactionLog::applyInMemory() {
    storage().superBlock().setTrackLast(trackType(), newPage(), newChecksum());
}

void UpdateTrackLastTransactionLog::writeBack() {
    // The journal orders this write: its records undo it when the rest never arrives.
    storage().superBlock().saveJournaled();
}

void UpdateTrackLastTransactionLog::rollback() {
    SuperBlock& superBlock = storage().superBlock();
    if (oldPage() != 0) {
        superBlock.setTrackLast(trackType(), oldPage(), oldChecksum());
        storage().updateTrackLast(trackType(), oldPage(), oldChecksum());
    } else {
        superBlock.removeTrack(trackType());
        storage().forgetTrack(trackType());
    }
    superBlock.save();
}
