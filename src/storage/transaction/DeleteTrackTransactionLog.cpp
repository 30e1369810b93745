#include "storage/transaction/DeleteTrackTransactionLog.h"

#include "base/IFormatable.h"
#include "base/TextOf.h"
#include "storage/pager/SuperBlock.h"
#include "storage/transaction/IJournaledStorage.h"

bool DeleteTrackTransactionLog::isApplied() {
    return !storage().superBlock().hasTrack(_trackType);
}

void DeleteTrackTransactionLog::apply() {
    SuperBlock& superBlock = storage().superBlock();
    superBlock.removeTrack(_trackType);
    // The journal orders this write: its records undo it when the rest never arrives.
    superBlock.saveJournaled();
}

void DeleteTrackTransactionLog::toString(IFormatable& out) const {
    out.format("RemoveTrack %s", textOf(_trackType).c_str());
}
